#!/usr/bin/env bash
# Installs what the project needs on this machine, idempotently:
# Debian's Chromium, a virtual environment in .venv with the Python tools,
# and the package itself (built incrementally in build/).
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/common.sh

if [ ! -x /usr/bin/chromium ]; then
  echo "bootstrap: installing Debian's chromium" >&2
  apt_install chromium
fi

# The desktop message box (zenity), and the virtual display and input tool its tests use.
desktop=()
command -v zenity >/dev/null || desktop+=(zenity)
command -v Xvfb >/dev/null || desktop+=(xvfb)
command -v xdotool >/dev/null || desktop+=(xdotool)
if [ ${#desktop[@]} -gt 0 ]; then
  echo "bootstrap: installing Debian's ${desktop[*]}" >&2
  apt_install "${desktop[@]}"
fi

dev_venv "${PYTHON:-python3}" .venv

# The build directory is kept between runs, so this is incremental.
.venv/bin/python -m pip install -q --no-build-isolation --no-deps . >/dev/null
