#!/usr/bin/env bash
# Installs everything, builds, and runs every test: the C++ suite under CTest
# and the Python suite against the installed module (scripts/run-suites.sh),
# the Python suite again on the oldest supported Python (3.9) and the newest
# one available (3.13), both suites under AddressSanitizer and
# UndefinedBehaviorSanitizer, and a bounded fuzzing run. Compiler warnings are
# errors.
source "$(dirname "$0")/setup.sh"

bash scripts/run-suites.sh

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
