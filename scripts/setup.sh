# Sourced by the scripts in this folder: installs what the build needs and
# prepares the virtual environment .venv. Safe to run any number of times.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"

APT_PACKAGES=(g++ libgtest-dev libspdlog-dev libfmt-dev libutf8proc-dev ${EXTRA_APT_PACKAGES:-})
missing=()
for pkg in "${APT_PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi

[ -x .venv/bin/python ] || python3 -m venv .venv
VENV="$ROOT/.venv"
"$VENV/bin/python" -m pip install -q --disable-pip-version-check cmake ninja
export PATH="$VENV/bin:$PATH"
