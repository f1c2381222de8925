#!/usr/bin/env bash
# The whole test suite. Without arguments, three runs go side by side (the browser tests
# spend most of their time in the pauses the fills must make, so they share the machine
# well), each writing its own log under build/test-logs, shown when all have ended:
#   cpython-3.11  on the machine's interpreter, against the build installed in .venv: the unit
#                 and bridge tests and the commands run end to end in the browser
#                 (test_runner*.py); the whole suite when 3.14 is left out
#   asserts       the unit and bridge tests against a build with assertions kept on,
#   clang         then against a build by clang (-Werror -pedantic-errors),
#   windows       then every native source compiled for Windows (scripts/windows-check.sh),
#                 one after another
#   cpython-3.14  the whole suite on CPython 3.14, the interpreter the modules are made for
#                 (built by make python314), in build/venv-3.14
#                 with the package built for it; meanwhile the abi3 wheel (make abi3) is
#                 built and checked with it
# Each suite runs on four pytest workers (ZV_WORKERS), the tests handed to whichever is free
# (the packaging tests, which build a wheel, stay together on one): the browser tests spend
# most of their time waiting for the pages and the pauses the fills must make.
#
#   ZV_PY314=build  build CPython 3.14 first when it is missing (CI does)
#   ZV_PY314=0      leave 3.14 out; unset: run it when it has been built
#   ZV_SKIP_ASSERTS=1, ZV_SKIP_CLANG=1, ZV_SKIP_WINDOWS=1  leave that check out
#   ZV_WORKERS=N    pytest workers per suite (default 4)
# With arguments (a selection of tests, pytest options), the selection runs in the
# foreground on the machine's interpreter, then on 3.14 when it is there.
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/common.sh
PYTEST=(-m pytest -q -p no:cacheprovider)
py314=${ZV_PY314:-}
workers=${ZV_WORKERS:-4}

# The 3.14 interpreter's path, building it first when asked to; fails when it is not there.
find_py314() {
  case "$py314" in
    0) return 1 ;;
    build) bash scripts/build-python314.sh ;;
    *) ZV_PY314_CHECK=1 bash scripts/build-python314.sh ;;
  esac
}

# A venv of 3.14 with the test tools and the package built for 3.14 (its own build
# directory, build/cp314-..., kept between runs like the default one).
prepare_py314() {
  local venv=build/venv-3.14
  dev_venv "$1" "$venv"
  flock /tmp/ziveviver-build.lock "$venv/bin/python" -m pip install -q --no-build-isolation --no-deps . >/dev/null
  echo "$venv/bin/python"
}

if [ $# -gt 0 ]; then
  status=0
  .venv/bin/python "${PYTEST[@]}" "$@" || status=$?
  if PY314=$(find_py314); then
    echo "test: the selection again on $("$PY314" -V)" >&2
    venv_python=$(prepare_py314 "$PY314")
    "$venv_python" "${PYTEST[@]}" "$@" || status=$?
  fi
  exit $status
fi

logs=build/test-logs
rm -rf "$logs"
mkdir -p "$logs"
start=$(date +%s)

# run NAME COMMAND... [-- NAME COMMAND...]...: in the background, the jobs one after
# another, each job's output to $logs/NAME.log; a line on the terminal as each one ends.
pids=()
names=()
run() {
  local args=("$@") i=0 next=1
  for i in "${!args[@]}"; do  # the jobs' names: the first word, and each one after a --
    [ $next = 1 ] && names+=("${args[$i]}")
    next=0
    [ "${args[$i]}" = -- ] && next=1
  done
  (
    failed=0
    while [ $# -gt 0 ]; do
      name=$1
      shift
      cmd=()
      while [ $# -gt 0 ] && [ "$1" != -- ]; do
        cmd+=("$1")
        shift
      done
      [ $# -eq 0 ] || shift
      status=0
      "${cmd[@]}" >"$logs/$name.log" 2>&1 || status=$?
      [ $status -eq 0 ] || echo "$name" >>"$logs/failed"
      [ $status -eq 0 ] || failed=1
      echo "test: $name ended after $(( $(date +%s) - start )) s, exit status $status" >&2
    done
    exit $failed
  ) &
  pids+=($!)
}

suite_py314() {
  local python
  if ! python=$(find_py314); then
    if [ "$py314" = build ]; then
      echo "CPython 3.14 could not be built (see above)"
      return 1
    fi
    echo "CPython 3.14 is not built here (make python314): the suite ran on the machine's interpreter only"
    return 0
  fi
  echo "the whole suite on $("$python" -V) ($python)"
  local venv_python status=0
  venv_python=$(prepare_py314 "$python")
  # the abi3 wheel (limited API) is built and checked with 3.14 meanwhile
  ABI3_VENV=build/venv-3.14 bash scripts/abi3-wheel.sh >"$logs/abi3.log" 2>&1 &
  local abi3=$!
  "$venv_python" "${PYTEST[@]}" -n "$workers" --dist loadgroup || status=$?
  if wait "$abi3"; then
    echo "abi3 wheel: $(tail -n 1 "$logs/abi3.log")"
  else
    echo "abi3 wheel: FAILED"
    cat "$logs/abi3.log"
    status=1
  fi
  return $status
}

# With 3.14 in the run, the library's browser tests run there only: they drive the same C++
# and page scripts through the same Playwright on either interpreter, and the machine's two
# cores are the limit of the whole run. The machine's interpreter keeps every test of the
# bridge and the modules' C API, and the commands end to end.
py311_tests=()
if [ "$py314" = build ] || { [ "$py314" != 0 ] && ZV_PY314_CHECK=1 bash scripts/build-python314.sh >/dev/null 2>&1; }; then
  py311_tests=(tests/unit tests/native tests/browser/test_runner.py tests/browser/test_runner_dialog.py)
fi

echo "test: running side by side; logs in $logs" >&2
run "cpython-$(.venv/bin/python -c 'import sys; print("%d.%d" % sys.version_info[:2])')" \
  .venv/bin/python "${PYTEST[@]}" -n "$workers" --dist loadgroup "${py311_tests[@]}"
# The checking builds, one after another beside the suites (each builds, then runs the
# unit and bridge tests), and the compile check for Windows.
native=()
[ -n "${ZV_SKIP_ASSERTS:-}" ] || native+=(-- asserts bash scripts/native-check.sh asserts)
[ -n "${ZV_SKIP_CLANG:-}" ] || native+=(-- clang bash scripts/native-check.sh clang)
[ -n "${ZV_SKIP_WINDOWS:-}" ] || native+=(-- windows bash scripts/windows-check.sh)
if [ ${#native[@]} -gt 0 ]; then
  run "${native[@]:1}"
fi
if [ "$py314" != 0 ]; then
  run cpython-3.14 suite_py314
fi

status=0
for pid in "${pids[@]}"; do
  wait "$pid" || status=1
done
for name in "${names[@]}"; do
  echo
  echo "==================== $name"
  cat "$logs/$name.log"
done
echo
if [ $status -eq 0 ]; then
  echo "test: all passed (${names[*]}) in $(( $(date +%s) - start )) s"
else
  echo "test: FAILED: $(tr '\n' ' ' <"$logs/failed" 2>/dev/null)(after $(( $(date +%s) - start )) s)"
fi
exit $status
