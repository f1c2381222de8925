#!/usr/bin/env bash
# Installs what the project needs on this machine, idempotently:
# Debian's Chromium, a virtual environment in .venv with the Python tools,
# and the package itself (built incrementally in build/).
set -euo pipefail
cd "$(dirname "$0")/.."

# Our apt-get calls take this lock: CI builds CPython 3.14 (which installs its build
# dependencies) while this runs.
APT_LOCK=/tmp/ziveviver-apt.lock

if [ ! -x /usr/bin/chromium ]; then
  echo "bootstrap: installing Debian's chromium" >&2
  if [ "$(id -u)" = 0 ]; then SUDO=; else SUDO=sudo; fi
  flock "$APT_LOCK" $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive flock "$APT_LOCK" $SUDO apt-get install -y -qq chromium >/dev/null
fi

# The desktop message box (zenity), and the virtual display and input tool its tests use.
desktop=()
command -v zenity >/dev/null || desktop+=(zenity)
command -v Xvfb >/dev/null || desktop+=(xvfb)
command -v xdotool >/dev/null || desktop+=(xdotool)
if [ ${#desktop[@]} -gt 0 ]; then
  echo "bootstrap: installing Debian's ${desktop[*]}" >&2
  if [ "$(id -u)" = 0 ]; then SUDO=; else SUDO=sudo; fi
  flock "$APT_LOCK" $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive flock "$APT_LOCK" $SUDO apt-get install -y -qq "${desktop[@]}" >/dev/null
fi

PY=${PYTHON:-python3}
if [ ! -x .venv/bin/python ]; then
  echo "bootstrap: creating .venv" >&2
  "$PY" -m venv .venv
fi
stamp=.venv/.requirements-stamp
if [ ! -f "$stamp" ] || ! cmp -s requirements-dev.txt "$stamp"; then
  echo "bootstrap: installing Python tools" >&2
  .venv/bin/python -m pip install -q --upgrade pip
  .venv/bin/python -m pip install -q -r requirements-dev.txt
  cp requirements-dev.txt "$stamp"
fi

# The build directory is kept between runs, so this is incremental.
.venv/bin/python -m pip install -q --no-build-isolation --no-deps . >/dev/null
