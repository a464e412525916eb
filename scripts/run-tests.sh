#!/usr/bin/env bash
# Installs everything, builds, and runs every test: the C++ suite under CTest
# and the Python suite against the installed module (scripts/run-suites.sh),
# both suites again on the scalar twin of the byte-block scans (QC_SIMD=OFF,
# what machines without SSE2 run), the Python suite again on the oldest
# supported Python (3.9) and the newest one available (3.13), both suites
# under AddressSanitizer and UndefinedBehaviorSanitizer, and a bounded fuzzing
# run. Compiler warnings are errors.
source "$(dirname "$0")/setup.sh"

bash scripts/run-suites.sh

# The scalar build: its own CMake folders and virtual environment.
cmake -S . -B build/tests-scalar -G Ninja -DQC_BUILD_TESTS=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQC_WARNINGS_AS_ERRORS=ON -DQC_SIMD=OFF
cmake --build build/tests-scalar
ctest --test-dir build/tests-scalar --output-on-failure
bash scripts/python-suite.sh --scalar

# The other interpreters come from pyenv; the newest patch release of each.
PYENV_DIR="$(pyenv root 2>/dev/null || echo "${PYENV_ROOT:-$HOME/.pyenv}")"
for minor in 3.9 3.13; do
  interpreter=""
  while read -r dir; do
    if [ -x "$dir/bin/python$minor" ]; then interpreter="$dir/bin/python$minor"; fi
  done < <(find "$PYENV_DIR/versions" -mindepth 1 -maxdepth 1 -regex ".*/${minor//./\\.}\.[0-9]+" 2>/dev/null | sort -V)
  if [ -z "$interpreter" ]; then
    echo "run-tests: Python $minor not found under $PYENV_DIR/versions, skipped"
    continue
  fi
  bash scripts/python-suite.sh "$interpreter"
done

bash scripts/run-sanitized.sh
bash scripts/run-fuzz.sh
