#!/usr/bin/env bash
# The whole test suite. Without arguments, three runs go side by side (the browser tests
# spend most of their time in the pauses the fills must make, so they share the machine
# well), each writing its own log under build/test-logs, shown when all have ended:
#   cpython-3.11  the suite on the machine's interpreter against the build installed in .venv
#   asserts       the unit and bridge tests against a build with assertions kept on
#   cpython-3.14  the suite on CPython 3.14 (built by make python314), in build/venv-3.14
#                 with the package built for it; meanwhile the abi3 wheel (make abi3) is
#                 built and checked with it
# Each suite runs on two pytest workers, one test file per worker at a time.
#
#   ZV_PY314=build  build CPython 3.14 first when it is missing (CI does)
#   ZV_PY314=0      leave 3.14 out; unset: run it when it has been built
#   ZV_SKIP_ASSERTS=1  leave the assertions build out
# With arguments (a selection of tests, pytest options), the selection runs in the
# foreground on the machine's interpreter, then on 3.14 when it is there.
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/common.sh
PYTEST=(-m pytest -q -p no:cacheprovider)
py314=${ZV_PY314:-}

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

# run NAME COMMAND...: in the background, its output to $logs/NAME.log; a line on the
# terminal when it ends.
pids=()
names=()
run() {
  local name=$1
  shift
  (
    status=0
    "$@" >"$logs/$name.log" 2>&1 || status=$?
    echo "test: $name ended after $(( $(date +%s) - start )) s, exit status $status" >&2
    exit $status
  ) &
  pids+=($!)
  names+=("$name")
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
  "$venv_python" "${PYTEST[@]}" -n 2 --dist loadfile || status=$?
  if wait "$abi3"; then
    echo "abi3 wheel: $(tail -n 1 "$logs/abi3.log")"
  else
    echo "abi3 wheel: FAILED"
    cat "$logs/abi3.log"
    status=1
  fi
  return $status
}

echo "test: running side by side; logs in $logs" >&2
run "cpython-$(.venv/bin/python -c 'import sys; print("%d.%d" % sys.version_info[:2])')" \
  .venv/bin/python "${PYTEST[@]}" -n 2 --dist loadfile
if [ -z "${ZV_SKIP_ASSERTS:-}" ]; then
  run asserts bash scripts/native-check.sh asserts
fi
if [ "$py314" != 0 ]; then
  run cpython-3.14 suite_py314
fi

status=0
failed=()
for i in "${!pids[@]}"; do
  if ! wait "${pids[$i]}"; then
    status=1
    failed+=("${names[$i]}")
  fi
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
  echo "test: FAILED: ${failed[*]} (after $(( $(date +%s) - start )) s)"
fi
exit $status
