# Shell functions the scripts share; source it from a script run at the project's root.

# dev_venv PYTHON DIR: a virtual environment in DIR of PYTHON's version (made again when it
# holds another version) with requirements-dev.txt installed, again only when that file has
# changed since the last install.
dev_venv() {
  local python=$1 venv=$2
  local want
  want=$("$python" -c 'import sys; print(sys.version_info[:2])')
  if [ ! -x "$venv/bin/python" ] || [ "$("$venv/bin/python" -c 'import sys; print(sys.version_info[:2])')" != "$want" ]; then
    echo "creating $venv" >&2
    rm -rf "$venv"
    "$python" -m venv "$venv"
  fi
  local stamp=$venv/.requirements-stamp
  if [ ! -f "$stamp" ] || ! cmp -s requirements-dev.txt "$stamp"; then
    echo "installing the Python tools into $venv" >&2
    "$venv/bin/python" -m pip install -q --upgrade pip
    "$venv/bin/python" -m pip install -q -r requirements-dev.txt
    cp requirements-dev.txt "$stamp"
  fi
}

# modules_from PYTHON SITE [SUFFIX]: fails unless PYTHON imports every extension module of
# the package from SITE (each file name ending in SUFFIX when given), not from an install
# elsewhere.
modules_from() {
  "$1" - "$2" "${3:-}" <<'PY'
import pathlib, sys
from ziveviver import vexocontrole, vexofuncoes, vexoconferencia, _probe
site, suffix = pathlib.Path(sys.argv[1]).resolve(), sys.argv[2]
for m in (vexocontrole, vexofuncoes, vexoconferencia, _probe):
    path = pathlib.Path(m.__file__).resolve()
    assert path.is_relative_to(site) and path.name.endswith(suffix), path
PY
}

# apt_update, apt_install [APT-GET OPTION...] PACKAGE...: Debian's package lists and packages
# (as root, or through sudo), each call under the lock every apt-get call of ours takes, as
# several of these scripts may run at once (CI builds CPython 3.14 beside make test).
apt_update() {
  local sudo=
  [ "$(id -u)" = 0 ] || sudo=sudo
  flock /tmp/ziveviver-apt.lock $sudo apt-get update -qq
}
apt_install() {
  local sudo=
  [ "$(id -u)" = 0 ] || sudo=sudo
  apt_update
  DEBIAN_FRONTEND=noninteractive flock /tmp/ziveviver-apt.lock $sudo apt-get install -y -qq "$@" >/dev/null
}
