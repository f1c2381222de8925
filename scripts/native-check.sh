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
# allocates with malloc so that ASan sees every object. LeakSanitizer: the test runner's
# interpreter ends holding what pytest, Hypothesis and CPython leave unfreed by design, so it
# runs without; the leak tests (tests/native/test_leaks.py) run fills, errors and raises in
# interpreters of their own with LeakSanitizer on (ZV_LSAN_ASAN_OPTIONS), which must end with
# nothing lost but what scripts/lsan.supp names (the interpreter's own, never ours). Their
# stacks are unwound without frame pointers (the interpreter has none), so that each loss
# shows who allocated it and the suppressions can name the interpreter's functions.
#
# ZV_PLANTED_LEAK=1 builds the same kind with a native leak planted (one small object lost
# per text fill; CMake's ZV_PLANTED_LEAK) into build/<kind>-planted: the leak checks must
# fail there, e.g.  ZV_PLANTED_LEAK=1 scripts/native-check.sh asan tests/native/test_leaks.py
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
build=$kind
if [ -n "${ZV_PLANTED_LEAK:-}" ]; then
  build=$kind-planted
  defines+=(-C cmake.define.ZV_PLANTED_LEAK=ON)
fi

site="build/$build-site"
echo "native-check: building the $build build into $site" >&2
flock /tmp/ziveviver-build.lock .venv/bin/python -m pip install -q --no-build-isolation --no-deps \
  --upgrade --target "$site" -C "build-dir=build/$build" -C cmake.build-type=RelWithDebInfo \
  "${defines[@]}" . >/dev/null

export PYTHONPATH="$PWD/$site${PYTHONPATH:+:$PYTHONPATH}"
if [ "$kind" = asan ]; then
  CXX=${CXX:-g++}
  export LD_PRELOAD="$("$CXX" -print-file-name=libasan.so) $("$CXX" -print-file-name=libstdc++.so)"
  export PYTHONMALLOC=malloc
  asan_options="abort_on_error=1:strict_init_order=1:detect_stack_use_after_return=0"
  export ASAN_OPTIONS="detect_leaks=0:$asan_options"
  export ZV_LSAN_ASAN_OPTIONS="detect_leaks=1:fast_unwind_on_malloc=0:$asan_options"
  export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
  export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
fi

# The modules under test must be the checking build, not the one in .venv.
source scripts/common.sh
modules_from .venv/bin/python "$site"

echo "native-check: unit and bridge tests against the $build build" >&2
exec .venv/bin/python -m pytest -q -p no:cacheprovider tests/unit tests/native "$@"
