#!/usr/bin/env bash
# Runs the whole test suite against the installed build; then, with ZV_PY314=1 and CPython 3.14
# built (make python314), the whole suite again on 3.14, in build/venv-3.14 with the package
# built for 3.14. Arguments go to both pytest runs.
set -euo pipefail
cd "$(dirname "$0")/.."

status=0
.venv/bin/python -m pytest -q -p no:cacheprovider "$@" || status=$?

# The unit and bridge tests again against a build with assertions kept on, in its own
# folders (whole-suite runs only; ZV_SKIP_ASSERTS=1 leaves it out).
if [ $# -eq 0 ] && [ -z "${ZV_SKIP_ASSERTS:-}" ]; then
  bash scripts/native-check.sh asserts || status=$?
fi

if [ -n "${ZV_PY314:-}" ] && PY314=$(ZV_PY314_CHECK=1 bash scripts/build-python314.sh); then
  echo "test: the whole suite again on $("$PY314" -V) ($PY314)" >&2
  venv=build/venv-3.14
  if [ ! -x "$venv/bin/python" ] || ! "$venv/bin/python" -c 'import sys; sys.exit(sys.version_info[:2] != (3, 14))'; then
    rm -rf "$venv"
    "$PY314" -m venv "$venv"
  fi
  stamp=$venv/.requirements-stamp
  if [ ! -f "$stamp" ] || ! cmp -s requirements-dev.txt "$stamp"; then
    "$venv/bin/python" -m pip install -q --upgrade pip
    "$venv/bin/python" -m pip install -q -r requirements-dev.txt
    cp requirements-dev.txt "$stamp"
  fi
  # Its own build directory (build/cp314-...), kept between runs like the default one.
  flock /tmp/ziveviver-build.lock "$venv/bin/python" -m pip install -q --no-build-isolation --no-deps . >/dev/null
  "$venv/bin/python" -m pytest -q -p no:cacheprovider "$@" || status=$?
fi
exit $status
