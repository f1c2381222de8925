#!/usr/bin/env bash
# Compiles every native source for 64-bit Windows with Debian's mingw-w64 g++, against
# CPython 3.14's headers and its Windows configuration header (PC/pyconfig.h) from the
# source package scripts/build-python314.sh builds 3.14 from, with -Werror. Nothing is
# linked or run: this finds what does not compile for Windows (LLP64, where long holds 32
# bits; headers; extensions of g++ that MSVC rejects), not what misbehaves there.
#
# The compiler runs with the CMake build's warnings plus -Wconversion, all as errors, and
# -pedantic-errors. Beyond what it reports, the check fails when
# - a source includes, outside a guard on _WIN32, a POSIX header that MSVC lacks (mingw ships
#   several of them, so they compile here): each compile prints its include tree (-H), which
#   is checked for them;
# - the code names long (32 bits on Windows), the C API's getters of a long, or a keyword of
#   g++'s own that MSVC rejects (__attribute__, __builtin_*, typeof, ...).
#
#   scripts/windows-check.sh [SOURCE...]   default: every native/**/*.cpp
#   ZV_MINGW_CXX   the compiler (default x86_64-w64-mingw32-g++, installed when missing)
set -euo pipefail
cd "$(dirname "$0")/.."
start=$(date +%s)

source scripts/common.sh
CXX=${ZV_MINGW_CXX:-x86_64-w64-mingw32-g++}
# The compiler (its posix threads flavour: g++ 12's win32 flavour has no std::thread nor
# std::mutex), and what unpacks the source package when the headers are not cached yet.
missing=()
command -v "$CXX" >/dev/null || missing+=(g++-mingw-w64-x86-64-posix)
command -v dpkg-source >/dev/null || missing+=(dpkg-dev)
command -v xz >/dev/null || missing+=(xz-utils)
if [ ${#missing[@]} -gt 0 ]; then
  echo "windows-check: installing Debian's ${missing[*]}" >&2
  apt_install --no-install-recommends "${missing[@]}"
fi

source scripts/python314-source.sh
headers=$(py314_headers)

# The page scripts' headers, generated as the CMake build does.
out=build/windows-check
gen=$out/generated
mkdir -p "$gen"
CMAKE=cmake
[ -x .venv/bin/cmake ] && CMAKE=.venv/bin/cmake
embed() {  # embed OUT FROM [NAMESPACE]
  local list
  list=$(printf '%s|' "$PWD/$2"/*.js)
  "$CMAKE" -DOUT="$PWD/$gen/$1" "-DIN=${list%|}" -DFROM="$2" ${3:+-DNAMESPACE=$3} \
    -P cmake/embed_scripts.cmake
}
embed page_scripts.hpp native/vexocontrole/scripts
embed conferencia_scripts.hpp native/vexoconferencia/scripts zv::cf::scripts

if [ $# -gt 0 ]; then
  sources=("$@")
else
  mapfile -t sources < <(find native -name '*.cpp' | sort)
fi

# POSIX headers that MSVC does not have.
posix='unistd\.h|pthread\.h|dirent\.h|dlfcn\.h|poll\.h|strings\.h|libgen\.h|spawn\.h|termios\.h|sys/(time|wait|socket|select|mman|resource|ioctl|un|uio|utsname|times)\.h|netinet/[a-z_]*\.h|arpa/[a-z_]*\.h'

# compile SOURCE: its errors, and any POSIX-only header it includes itself (the include tree's
# first level, or a header of ours).
compile() {
  local src=$1 extra=()
  # The flags of the CMake build (C++20, its warnings), as errors, and no GNU extensions.
  # -Wconversion (the sources are clean of it on Linux) finds, here, every implicit
  # narrowing from a 64-bit value (Py_ssize_t, long long, size_t) into long.
  local flags=(-std=c++20 -fsyntax-only -H -Wall -Wextra -Wno-missing-field-initializers
               -Wconversion -Wno-sign-conversion -Werror -pedantic-errors
               -Inative -I"$headers/Include" -I"$headers/PC")
  case "$src" in
    native/vexocontrole/*) extra=(-Inative/vexocontrole -I"$gen") ;;
    native/vexoconferencia/*) extra=(-Inative/vexocontrole -Inative/vexoconferencia -I"$gen") ;;
  esac
  local log status=0
  log=$("$CXX" "${flags[@]}" "${extra[@]}" "$src" 2>&1) || status=$?
  # -H prints one line per header, its depth in dots: a header is included by the nearest
  # line above it with one dot fewer (depth 0: the source itself).
  local bad
  bad=$(awk -v src="$src" -v posix="($posix)\$" '
    /^\.+ / {
      d = length($1); file = $2; parent[d] = file
      from = (d == 1) ? src : parent[d - 1]
      if (file ~ posix && (d == 1 || from ~ /(^|\/)native\//))
        print "  " from " includes " file " (a POSIX header that MSVC lacks: guard it on _WIN32)"
    }' <<<"$log")
  # What the compiler said, without the include tree.
  awk '/^\.+ / { next }
       /^Multiple include guards may be useful for:$/ { guards = 1; next }
       guards && /^\/[^ ]*$/ { next }
       { guards = 0; print }' <<<"$log"
  if [ "$status" -ne 0 ] || [ -n "$bad" ]; then
    echo "FAILED: $src"
    [ -z "$bad" ] || echo "$bad"
    return 1
  fi
}
export -f compile
export CXX posix gen headers

failed=0
# What compiles here but not with MSVC, or compiles everywhere but holds 32 bits on Windows:
# long (use long long, Py_ssize_t or int), the C API's long getters, and g++'s own keywords.
# Comments and string literals are left out.
lint=$(perl - "${sources[@]}" $(find native -name '*.hpp' | sort) <<'PL'
for my $path (@ARGV) {
  open(my $f, '<', $path) or die "$path: $!";
  my $block = 0;
  while (my $line = <$f>) {
    my $code = $line;
    if ($block) { next unless $code =~ s{^.*?\*/}{}; $block = 0 }
    $code =~ s{"(?:\\.|[^"\\])*"}{""}g;
    $code =~ s{/\*.*?\*/}{}g;
    $code =~ s{//.*}{};
    $block = 1 if $code =~ s{/\*.*}{};
    $code =~ s{\blong(\s+long)+\b}{LL}g;
    my @why;
    push @why, "long (32 bits on Windows: long long, Py_ssize_t or int)" if $code =~ /\blong\b/;
    push @why, "$1 (a 32-bit long on Windows: PyLong_AsLongLong, PyLong_AsSsize_t)"
      if $code =~ /\b(PyLong_As(?:Unsigned)?Long(?:Mask|AndOverflow)?)\b/;
    push @why, "$1 (g++ only: MSVC rejects it)"
      if $code =~ /(__attribute__|__builtin_\w+|__PRETTY_FUNCTION__|__extension__|__typeof__|\btypeof\b|__restrict__|__thread\b|__asm__|\basm\b|^\s*#\s*warning\b)/;
    print "  $path:$.: $_\n" for @why;
  }
  close $f;
}
PL
)
if [ -n "$lint" ]; then
  echo "FAILED: not portable to Windows (LLP64) or MSVC:"
  echo "$lint"
  failed=1
fi
for src in "${sources[@]}"; do
  printf '%s\n' "$src"
done | xargs -P "$(nproc)" -I{} bash -c 'compile "$1"' _ {} || failed=1

n=${#sources[@]}
if [ $failed -ne 0 ]; then
  echo "windows-check: FAILED ($CXX $("$CXX" -dumpversion), $n sources, $(( $(date +%s) - start )) s)"
  exit 1
fi
echo "windows-check: $n sources compile for Windows x64 ($CXX $("$CXX" -dumpversion), CPython $PY314_VERSION headers with PC/pyconfig.h, -Werror -pedantic-errors) in $(( $(date +%s) - start )) s"
