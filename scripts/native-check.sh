#!/usr/bin/env bash
# Builds the extension modules in a checking build and runs the unit and bridge tests
# against it. The build goes into its own folders (build/<kind>, installed into
# build/<kind>-site), never over the install in .venv.
#
#   scripts/native-check.sh asserts [pytest args]   assertions kept on (RelWithDebInfo)
#   scripts/native-check.sh asan [pytest args]      AddressSanitizer + UndefinedBehaviorSanitizer
#   scripts/native-check.sh clang [pytest args]     built by clang, -Wall -Wextra -Werror
#                                                   -pedantic-errors (RelWithDebInfo)
#
# The clang build uses Debian's newest clang-N package that this machine's apt offers
# (installed when missing; ZV_CLANG=clang++-N picks another), with the C++ library of g++
# (libstdc++), as the modules must load into an interpreter built by g++.
#
# The sanitizer build uses the runtime that ships with g++ (libasan, libubsan); it is
# preloaded together with libstdc++ (otherwise the first C++ throw aborts), and Python
# allocates with malloc so that ASan sees every object. CPython keeps objects alive until
# exit by design, so leak detection is off.
set -euo pipefail
cd "$(dirname "$0")/.."

kind=${1:-}
shift || true
case "$kind" in
  asserts) defines=(-C cmake.define.ZV_ASSERTS=ON) ;;
  asan) defines=(-C cmake.define.ZV_SANITIZE=ON) ;;
  clang) defines=(-C cmake.define.CMAKE_CXX_COMPILER="$(bash scripts/clang.sh)" -C cmake.define.ZV_WERROR=ON) ;;
  *) echo "usage: $0 asserts|asan|clang [pytest args]" >&2; exit 2 ;;
esac

site="build/$kind-site"
echo "native-check: building the $kind build into $site" >&2
flock /tmp/ziveviver-build.lock .venv/bin/python -m pip install -q --no-build-isolation --no-deps \
  --upgrade --target "$site" -C "build-dir=build/$kind" -C cmake.build-type=RelWithDebInfo \
  "${defines[@]}" . >/dev/null

export PYTHONPATH="$PWD/$site${PYTHONPATH:+:$PYTHONPATH}"
if [ "$kind" = asan ]; then
  CXX=${CXX:-g++}
  export LD_PRELOAD="$("$CXX" -print-file-name=libasan.so) $("$CXX" -print-file-name=libstdc++.so)"
  export PYTHONMALLOC=malloc
  export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1:strict_init_order=1:detect_stack_use_after_return=0"
  export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
fi

# The modules under test must be the checking build, not the one in .venv.
source scripts/common.sh
modules_from .venv/bin/python "$site"

echo "native-check: unit and bridge tests against the $kind build" >&2
exec .venv/bin/python -m pytest -q -p no:cacheprovider tests/unit tests/native "$@"
