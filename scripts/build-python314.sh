#!/usr/bin/env bash
# Builds CPython 3.14 from Debian's source package python3.14 (upstream tarball plus Debian's
# patches) into a cache folder outside the repository, and prints the interpreter's path.
# An interpreter already built there is reused; nothing is installed system-wide except the
# Debian build dependencies that are missing.
#
#   ZV_PY314_HOME   where it goes (default ${XDG_CACHE_HOME:-$HOME/.cache}/ziveviver/cpython-3.14)
#   ZV_DEBIAN_MIRROR  the Debian mirror to fetch from (default: the one apt uses here)
#   ZV_PY314_CHECK  only tell whether the interpreter is there (exit 0) or not (exit 1)
#
# Exit status: 0 built or reused, 3 the source package could not be fetched, 1 anything else.
#
# The source package (pinned by hash) is fetched and unpacked by scripts/python314-source.sh,
# which keeps its headers for the Windows compile check (scripts/windows-check.sh).
set -euo pipefail
source "$(dirname "$0")/common.sh"
source "$(dirname "$0")/python314-source.sh"

PREFIX=${ZV_PY314_HOME:-${XDG_CACHE_HOME:-$HOME/.cache}/ziveviver/cpython-3.14}
PY=$PREFIX/bin/python3.14
STAMP=$PREFIX/.ziveviver-complete

usable() {
  [ -f "$STAMP" ] && [ -x "$PY" ] &&
    "$PY" -c 'import ssl, ctypes, sqlite3, zlib, lzma, bz2, venv, ensurepip' 2>/dev/null
}

if usable; then
  echo "$PY"
  exit 0
fi
if [ -n "${ZV_PY314_CHECK:-}" ]; then
  exit 1
fi

fail() {
  echo "build-python314: $*" >&2
  exit 1
}

mkdir -p "$(dirname "$PREFIX")"
exec 9>"$PREFIX.lock"
flock 9
if usable; then  # another run finished it while this one waited
  echo "$PY"
  exit 0
fi

# Debian build dependencies of the modules the test suite needs (ssl for pip, ctypes,
# sqlite3, the compressors, readline for the REPL), and dpkg-source to unpack the package.
deps=(gcc make pkg-config dpkg-dev xz-utils libssl-dev libffi-dev zlib1g-dev libbz2-dev
      liblzma-dev libzstd-dev libsqlite3-dev libreadline-dev libncurses-dev uuid-dev libexpat1-dev)
missing=()
for d in "${deps[@]}"; do
  dpkg-query -W -f='${Status}' "$d" 2>/dev/null | grep -q "ok installed" || missing+=("$d")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "build-python314: installing Debian's ${missing[*]}" >&2
  apt_install --no-install-recommends "${missing[@]}"
fi

work=$PREFIX.build
if [ -d "$PREFIX" ] && [ ! -e "$PREFIX/bin/python3.14" ] && [ -n "$(ls -A "$PREFIX")" ]; then
  fail "$PREFIX holds something other than an interpreter built here; move it or set ZV_PY314_HOME"
fi
rm -rf "$work" "$PREFIX"  # a build that stopped half-way
mkdir -p "$work"
py314_unpack "$work"
cd "$work/src"
echo "build-python314: configuring and building (log: $work/build.log)" >&2
start=$(date +%s)
# An interpreter to run our tests on, built in minutes: no PGO/LTO, -O1 without debug
# information instead of -O3 -g (the compiler's time, not the interpreter's, is what counts
# here: our tests mostly wait on the browser), no CPython test suite, and none of the
# modules nothing here imports (Tk, curses, dbm).
{
  ./configure --prefix="$PREFIX" --with-ensurepip=no --disable-test-modules \
      OPT="-DNDEBUG -O1 -Wall" \
      py_cv_module__tkinter=n/a py_cv_module__curses=n/a py_cv_module__curses_panel=n/a \
      py_cv_module__dbm=n/a py_cv_module__gdbm=n/a &&
    make -j"$(nproc)" &&
    make install
} >"$work/build.log" 2>&1 || fail "the build failed; the end of $work/build.log:
$(tail -20 "$work/build.log")"
cd /
"$PY" -c 'import ssl, ctypes, sqlite3, zlib, lzma, bz2, venv, ensurepip' ||
  fail "the built interpreter lacks a module the tests need (see $work/build.log)"
touch "$STAMP"
rm -rf "$work"
echo "build-python314: built in $(( $(date +%s) - start )) s" >&2
echo "$PY"
