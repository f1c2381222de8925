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
# The source package is pinned by the SHA-256 of its .dsc, which in turn pins the tarballs;
# it is fetched with apt's own downloader from the pool of the Debian mirror this machine's
# apt uses. The pinned revision is one this mirror serves: the newer revisions that sid's and
# forky's indexes list answer 404 here.
set -euo pipefail

VERSION=3.14.7
DEBIAN_REVISION=1
DSC_SHA256=cc0e605221af514ef83d0445ef163c8ef05fcc53b54cf7b71ccedbbd28dbea90

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
  if [ "$(id -u)" = 0 ]; then SUDO=; else SUDO=sudo; fi
  # the same lock as bootstrap.sh's apt-get calls, which may run at the same time
  flock /tmp/ziveviver-apt.lock $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive flock /tmp/ziveviver-apt.lock \
    $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# ZV_DEBIAN_MIRROR, else the mirror apt is set up with (deb822 or one-line sources), else
# Debian's default.
mirror=${ZV_DEBIAN_MIRROR:-}
[ -n "$mirror" ] || mirror=$(sed -n 's/^URIs:[[:space:]]*\([^[:space:]]*debian\)\/\{0,1\}$/\1/p' \
           /etc/apt/sources.list.d/*.sources 2>/dev/null | grep -v security | head -n1 || true)
if [ -z "$mirror" ]; then
  mirror=$(sed -n 's/^deb[[:space:]]\+\(\[[^]]*\][[:space:]]\+\)\{0,1\}\([^[:space:]]*\/debian\)\/\{0,1\}[[:space:]].*/\2/p' \
             /etc/apt/sources.list 2>/dev/null | grep -v security | head -n1 || true)
fi
mirror=${mirror:-http://deb.debian.org/debian}
pool=$mirror/pool/main/p/python3.14

work=$PREFIX.build
if [ -d "$PREFIX" ] && [ ! -e "$PREFIX/bin/python3.14" ] && [ -n "$(ls -A "$PREFIX")" ]; then
  fail "$PREFIX holds something other than an interpreter built here; move it or set ZV_PY314_HOME"
fi
rm -rf "$work" "$PREFIX"  # a build that stopped half-way
mkdir -p "$work"
cd "$work"
dsc=python3.14_${VERSION}-${DEBIAN_REVISION}.dsc
fetch() {  # apt's downloader, checking the hash it is given; exit status 3 when unreachable
  if ! /usr/lib/apt/apt-helper download-file "$pool/$1" "$1" "SHA256:$2" >/dev/null 2>fetch.log; then
    echo "build-python314: cannot fetch $pool/$1 (Debian's source package python3.14" \
         "${VERSION}-${DEBIAN_REVISION}):" >&2
    grep -v unsandboxed fetch.log >&2 || true
    exit 3
  fi
}
echo "build-python314: fetching Debian's python3.14 ${VERSION}-${DEBIAN_REVISION} source from $mirror" >&2
fetch "$dsc" "$DSC_SHA256"
# The .dsc lists the tarballs with their SHA-256: fetch each against it.
while read -r sum _ file; do
  fetch "$file" "$sum"
done < <(sed -n '/^Checksums-Sha256:/,/^[^ ]/{/^ /p}' "$dsc")
# Unpacking checks the tarballs against the .dsc again and applies Debian's patches.
dpkg-source -x "$dsc" src >unpack.log 2>&1 || fail "dpkg-source failed: $(tail -5 unpack.log)"

cd src
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
