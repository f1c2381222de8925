#!/usr/bin/env bash
# Builds the abi3 wheel into dist/: every extension module compiled against CPython's limited
# API 3.12 (ZV_LIMITED_API), one cp312-abi3 wheel for every CPython from 3.12 on. Then checks
# that wheel (tests/unit/test_abi3_wheel.py: its tag, its *.abi3.so files, a fill and a bridge
# coroutine run from it) on the interpreter that built it, and runs the unit and bridge tests
# against its modules.
#
#   ABI3_PYTHON   the CPython 3.12+ to build with (default: python3 when it is 3.12 or later,
#                 else CPython 3.14 from make python314, built if it is not there yet)
#   ABI3_VENV     a venv of CPython 3.12+ that already holds the test tools, to build and
#                 check with instead (make test passes build/venv-3.14)
#
# The build has its own venv (build/venv-abi3) and build folder (build/abi3), apart from the
# default build's, and holds the lock the other builds hold.
set -euo pipefail
cd "$(dirname "$0")/.."

is_312() { "$1" -c 'import sys; sys.exit(sys.implementation.name != "cpython" or sys.version_info < (3, 12))'; }

venv=${ABI3_VENV:-build/venv-abi3}
PY=${ABI3_PYTHON:-}
if [ -n "${ABI3_VENV:-}" ]; then
  PY=$venv/bin/python
elif [ -z "$PY" ]; then
  if command -v python3 >/dev/null && is_312 python3; then
    PY=python3
  else
    PY=$(bash scripts/build-python314.sh)
  fi
fi
is_312 "$PY" || { echo "abi3-wheel: $PY is not CPython 3.12 or later" >&2; exit 1; }

source scripts/common.sh
[ -n "${ABI3_VENV:-}" ] || dev_venv "$PY" "$venv"  # else the caller's venv, as it is

mkdir -p dist
rm -f dist/ziveviver-*-abi3-*.whl
flock /tmp/ziveviver-build.lock "$venv/bin/python" -m pip wheel . --no-build-isolation --no-deps \
  -q -w dist -C wheel.py-api=cp312 -C cmake.define.ZV_LIMITED_API=ON -C build-dir=build/abi3
wheel=$(ls dist/ziveviver-*-cp312-abi3-*.whl)
echo "abi3-wheel: $wheel" >&2
# Installed into a venv of its own too (the command `ziveviver` comes with it); a caller's
# venv keeps its own install.
[ -n "${ABI3_VENV:-}" ] || "$venv/bin/python" -m pip install -q --no-deps --force-reinstall "$wheel"
# Its modules unpacked into build/abi3-site, first on the path (as the checking builds are
# run), then the wheel's own checks and the unit and bridge tests against those modules.
site=build/abi3-site
rm -rf "$site"
"$venv/bin/python" -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$wheel" "$site"
export PYTHONPATH="$PWD/$site${PYTHONPATH:+:$PYTHONPATH}"
modules_from "$venv/bin/python" "$site" .abi3.so
echo "abi3-wheel: the wheel's checks, and the unit and bridge tests against its modules" >&2
ZIVEVIVER_ABI3_WHEEL=$wheel "$venv/bin/python" -m pytest -q -rs -p no:cacheprovider tests/unit tests/native
