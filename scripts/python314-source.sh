# Debian's source package python3.14 (upstream tarball plus Debian's patches), pinned by the
# SHA-256 of its .dsc, which in turn pins the tarballs. Source this file; it defines:
#
#   py314_unpack DIR   fetches the package into DIR and unpacks it into DIR/src, keeping a copy
#                      of its headers (Include/ and the Windows configuration header
#                      PC/pyconfig.h) in the cache for the Windows compile check
#   py314_headers      prints the folder holding those headers (Include/, PC/pyconfig.h),
#                      fetching and unpacking the package first when the cache lacks them
#
#   ZV_DEBIAN_MIRROR   the Debian mirror to fetch from (default: the one apt uses here)
#
# A fetch that fails exits with status 3. The package is fetched with apt's own downloader
# from the pool of the Debian mirror this machine's apt uses. The pinned revision is one this
# mirror serves: the newer revisions that sid's and forky's indexes list answer 404 here.

PY314_VERSION=3.14.7
PY314_DEBIAN_REVISION=1
PY314_DSC_SHA256=cc0e605221af514ef83d0445ef163c8ef05fcc53b54cf7b71ccedbbd28dbea90
PY314_CACHE=${XDG_CACHE_HOME:-$HOME/.cache}/ziveviver
PY314_HEADERS=$PY314_CACHE/cpython-$PY314_VERSION-$PY314_DEBIAN_REVISION-headers

# ZV_DEBIAN_MIRROR, else the mirror apt is set up with (deb822 or one-line sources), else
# Debian's default.
py314_mirror() {
  local mirror=${ZV_DEBIAN_MIRROR:-}
  [ -n "$mirror" ] || mirror=$(sed -n 's/^URIs:[[:space:]]*\([^[:space:]]*debian\)\/\{0,1\}$/\1/p' \
             /etc/apt/sources.list.d/*.sources 2>/dev/null | grep -v security | head -n1 || true)
  if [ -z "$mirror" ]; then
    mirror=$(sed -n 's/^deb[[:space:]]\+\(\[[^]]*\][[:space:]]\+\)\{0,1\}\([^[:space:]]*\/debian\)\/\{0,1\}[[:space:]].*/\2/p' \
               /etc/apt/sources.list 2>/dev/null | grep -v security | head -n1 || true)
  fi
  echo "${mirror:-http://deb.debian.org/debian}"
}

# Copies the headers out of an unpacked tree (SRC) into the cache, unless they are there.
py314_keep_headers() {
  local src=$1
  [ -f "$PY314_HEADERS/.complete" ] && return 0
  rm -rf "$PY314_HEADERS"
  mkdir -p "$PY314_HEADERS/PC"
  cp -R "$src/Include" "$PY314_HEADERS/Include"
  cp "$src/PC/pyconfig.h"* "$PY314_HEADERS/PC/"
  touch "$PY314_HEADERS/.complete"
}

# Fetches the package into DIR and unpacks it into DIR/src (no lock taken).
py314_fetch_unpack() {
  local dir=$1
  local mirror pool dsc
  mirror=$(py314_mirror)
  pool=$mirror/pool/main/p/python3.14
  dsc=python3.14_${PY314_VERSION}-${PY314_DEBIAN_REVISION}.dsc
  command -v dpkg-source >/dev/null || {
    echo "python3.14 source: dpkg-source is missing (Debian's dpkg-dev)" >&2
    return 1
  }
  mkdir -p "$dir"
  (
    cd "$dir"
    fetch() {  # apt's downloader, checking the hash it is given
      if ! /usr/lib/apt/apt-helper download-file "$pool/$1" "$1" "SHA256:$2" >/dev/null 2>fetch.log; then
        echo "python3.14 source: cannot fetch $pool/$1 (Debian's source package python3.14" \
             "${PY314_VERSION}-${PY314_DEBIAN_REVISION}):" >&2
        grep -v unsandboxed fetch.log >&2 || true
        exit 3
      fi
    }
    echo "python3.14 source: fetching Debian's python3.14 ${PY314_VERSION}-${PY314_DEBIAN_REVISION} from $mirror" >&2
    fetch "$dsc" "$PY314_DSC_SHA256"
    # The .dsc lists the tarballs with their SHA-256: fetch each against it.
    while read -r sum _ file; do
      fetch "$file" "$sum"
    done < <(sed -n '/^Checksums-Sha256:/,/^[^ ]/{/^ /p}' "$dsc")
    # Unpacking checks the tarballs against the .dsc again and applies Debian's patches.
    rm -rf src
    if ! dpkg-source -x "$dsc" src >unpack.log 2>&1; then
      echo "python3.14 source: dpkg-source failed: $(tail -5 unpack.log)" >&2
      exit 1
    fi
  )
}

# The headers' lock is held throughout, so that a Windows check started meanwhile waits for
# these headers rather than fetching the package a second time.
py314_unpack() {
  mkdir -p "$PY314_CACHE"
  (
    flock 8
    py314_fetch_unpack "$1" && py314_keep_headers "$1/src"
  ) 8>"$PY314_HEADERS.lock"
}

py314_headers() {
  mkdir -p "$PY314_CACHE"
  (
    flock 8
    if [ ! -f "$PY314_HEADERS/.complete" ]; then
      local tmp
      tmp=$(mktemp -d "$PY314_CACHE/python3.14-source.XXXXXX")
      trap 'rm -rf "$tmp"' EXIT
      py314_fetch_unpack "$tmp" && py314_keep_headers "$tmp/src" || exit $?
    fi
  ) 8>"$PY314_HEADERS.lock" || return $?
  echo "$PY314_HEADERS"
}
