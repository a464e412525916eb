#!/usr/bin/env bash
# Compares the module built from a base revision with the one built from the
# working tree, byte for byte, in every format and on every error; exits 1 on
# any difference. Options go to differential.py (--base REV, --mutants N, ...).
source "$(dirname "$0")/setup.sh"
exec python scripts/differential.py "$@"
