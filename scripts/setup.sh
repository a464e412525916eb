# Sourced by the scripts in this folder: installs what the build needs and
# prepares the virtual environment .venv. Safe to run any number of times.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"

APT_PACKAGES=(g++ libgtest-dev libspdlog-dev libfmt-dev libutf8proc-dev ${EXTRA_APT_PACKAGES:-})
# Debian's own python3 keeps venv (with ensurepip) and the C headers in
# separate packages: add them when this interpreter lacks either.
if ! command -v python3 > /dev/null; then
  APT_PACKAGES+=(python3 python3-venv python3-dev)
else
  python3 -c 'import ensurepip, venv; ensurepip.version()' > /dev/null 2>&1 || APT_PACKAGES+=(python3-venv)
  python3 -c 'import os, sysconfig; raise SystemExit(not os.path.isfile(
    os.path.join(sysconfig.get_paths()["include"], "Python.h")))' > /dev/null 2>&1 || APT_PACKAGES+=(python3-dev)
fi
missing=()
for pkg in "${APT_PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi

# Made again when a first attempt left it without pip (no ensurepip then).
.venv/bin/python -m pip --version > /dev/null 2>&1 || python3 -m venv --clear .venv
VENV="$ROOT/.venv"
"$VENV/bin/python" -m pip install -q --disable-pip-version-check cmake ninja
export PATH="$VENV/bin:$PATH"
