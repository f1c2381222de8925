#!/usr/bin/env bash
# Prints the path of the clang++ the clang build uses: ZV_CLANG when set, else Debian's newest
# clang-N package that this machine's apt offers, installed when missing. Fails unless it
# compiles a C++20 coroutine against the C++ library here.
set -euo pipefail
source "$(dirname "$0")/common.sh"

newest() {
  apt-cache search --names-only '^clang-[0-9]+$' 2>/dev/null |
    sed -n 's/^clang-\([0-9]*\) .*/\1/p' | sort -n | tail -n 1
}

cxx=${ZV_CLANG:-}
if [ -z "$cxx" ]; then
  version=$(newest)
  if [ -z "$version" ]; then  # apt's lists are not there yet (a fresh machine)
    apt_update >&2
    version=$(newest)
  fi
  [ -n "$version" ] || { echo "clang: apt offers no clang-N package here" >&2; exit 1; }
  cxx=/usr/bin/clang++-$version
  if [ ! -x "$cxx" ]; then
    echo "clang: installing Debian's clang-$version" >&2
    apt_install --no-install-recommends "clang-$version" >&2
  fi
fi
cxx=$(command -v "$cxx") || { echo "clang: no compiler ${ZV_CLANG:-$cxx}" >&2; exit 1; }

probe=$(mktemp -d)
trap 'rm -rf "$probe"' EXIT
cat >"$probe/coro.cpp" <<'CPP'
#include <coroutine>
struct Task {
  struct promise_type {
    Task get_return_object() { return {}; }
    std::suspend_never initial_suspend() noexcept { return {}; }
    std::suspend_never final_suspend() noexcept { return {}; }
    void return_void() {}
    void unhandled_exception() {}
  };
};
Task run() { co_await std::suspend_never{}; }
int main() { run(); }
CPP
if ! "$cxx" -std=c++20 -fsyntax-only "$probe/coro.cpp" >"$probe/log" 2>&1; then
  echo "clang: $cxx does not compile C++20 coroutines here:" >&2
  cat "$probe/log" >&2
  exit 1
fi
echo "$cxx"
