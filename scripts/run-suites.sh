#!/usr/bin/env bash
# The quick check for day-to-day work: builds and runs the C++ suite under
# CTest and the Python suite against the installed module, default interpreter
# only, compiler warnings as errors. scripts/run-tests.sh runs these and the
# rest (other Python versions, sanitizers, fuzzing).
source "$(dirname "$0")/setup.sh"

# The engine-only benchmark is built too, so that it keeps compiling.
cmake -S . -B build/tests -G Ninja -DQC_BUILD_TESTS=ON -DQC_BUILD_BENCH=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQC_WARNINGS_AS_ERRORS=ON
cmake --build build/tests
ctest --test-dir build/tests --output-on-failure

bash scripts/python-suite.sh
