#!/usr/bin/env bash
# Installs everything, builds, and runs every test: the C++ suite under CTest
# and the Python suite against the installed module.
source "$(dirname "$0")/setup.sh"

cmake -S . -B build/tests -G Ninja -DQC_BUILD_TESTS=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build/tests
ctest --test-dir build/tests --output-on-failure

python -m pip install -q --disable-pip-version-check ".[test]"
cd tests/python && python -m pytest -q
