#!/usr/bin/env bash
# Installs everything, builds, and runs every test: the C++ suite under CTest,
# the Python suite against the installed module, both suites again under
# AddressSanitizer and UndefinedBehaviorSanitizer, and a bounded fuzzing run.
source "$(dirname "$0")/setup.sh"

cmake -S . -B build/tests -G Ninja -DQC_BUILD_TESTS=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build/tests
ctest --test-dir build/tests --output-on-failure

python -m pip install -q --disable-pip-version-check ".[test]"
(cd tests/python && python -m pytest -q)

bash scripts/run-sanitized.sh
bash scripts/run-fuzz.sh
