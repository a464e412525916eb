#!/usr/bin/env bash
# Builds the module into a virtual environment and runs the Python suite
# (tests/python) against it.
#
#   bash scripts/python-suite.sh           the default interpreter, in .venv
#   bash scripts/python-suite.sh PYTHON    that interpreter, in build/venv-X.Y
#   bash scripts/python-suite.sh --scalar  the default interpreter and the scalar
#                                          byte-block scans (QC_SIMD=OFF), in
#                                          build/venv-scalar
#
# Each has its own CMake build folder (build/py-default, build/py-X.Y,
# build/py-scalar), kept between runs so that a rerun rebuilds only what
# changed; compiler warnings are errors.
source "$(dirname "$0")/setup.sh"

DEFINES=(--config-settings=cmake.define.QC_WARNINGS_AS_ERRORS=ON)
if [ "${1:-}" = "--scalar" ]; then
  TAG=scalar
  VENV="$ROOT/build/venv-scalar"
  DEFINES+=(--config-settings=cmake.define.QC_SIMD=OFF)
  "$VENV/bin/python" -m pip --version > /dev/null 2>&1 || python3 -m venv --clear "$VENV"
elif [ $# -eq 0 ]; then
  TAG=default
  VENV="$ROOT/.venv"
else
  TAG="$("$1" -c 'import sys; print("%d.%d" % sys.version_info[:2])')"
  VENV="$ROOT/build/venv-$TAG"
  # Made again when missing or made by another build of that version (pyenv
  # got a newer patch release).
  want="$("$1" -c 'import sys; print(sys.version)')"
  have="$("$VENV/bin/python" -c 'import sys; print(sys.version)' 2>/dev/null || true)"
  [ "$have" = "$want" ] || "$1" -m venv --clear "$VENV"
fi
PY="$VENV/bin/python"
PIP=("$PY" -m pip install -q --disable-pip-version-check)

# Built without isolation so that the build folder stays valid between runs.
"${PIP[@]}" "scikit-build-core>=0.10"
"${PIP[@]}" --no-build-isolation "${DEFINES[@]}" --config-settings=build-dir="$ROOT/build/py-$TAG" ".[test]"

echo "python-suite: Python $("$PY" -c 'import platform; print(platform.python_version())')"
cd tests/python
"$PY" -m pytest -q
