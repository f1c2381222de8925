"""The bridge against CPython's coroutines in instructions per call, counted by callgrind.

    .venv/bin/python bench/bench_bridge_instructions.py

Instruction counts do not depend on what else the machine is doing, unlike times on a loaded
2-core machine. Each figure is (count with n calls - count with n/10 calls) / (0.9 n) for the same
script, so interpreter start-up cancels out. Needs valgrind (Debian's package).
"""
import re
import subprocess
import sys

import bench_bridge as b

CASES = {"trivial": (b.trivial, 20_000), "round_trips": (b.round_trips, 4_000)}


def child(variant, case, n):
    fn, _ = CASES[case]
    fn(b.py_await3 if variant == "cpython" else b.probe.await3, n)


def instructions(script, *args):
    """What callgrind counts for `python script --child *args`."""
    out = subprocess.run(
        ["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null", sys.executable, script,
         "--child", *map(str, args)], capture_output=True, text=True, check=True)
    return int(re.search(r"Collected : (\d+)", out.stderr).group(1))


def side_by_side(script, label, args, n, digits=3):
    """Prints CPython's and the bridge's instructions per iteration for `--child variant *args n`."""
    per = {}
    for variant in ("cpython", "bridge"):
        per[variant] = (instructions(script, variant, *args, n) - instructions(script, variant, *args, n // 10)) / (n - n // 10)
    print(f"{label:<12} CPython {per['cpython']:9.0f}   bridge {per['bridge']:9.0f}   "
          f"ratio {per['bridge'] / per['cpython']:5.{digits}f}")


def main():
    if sys.argv[1:2] == ["--child"]:
        child(sys.argv[2], sys.argv[3], int(sys.argv[4]))
        return
    print(f"Python {sys.version.split()[0]}: instructions per call (callgrind)")
    for case, (_, n) in CASES.items():
        side_by_side(__file__, case, (case,), n)


if __name__ == "__main__":
    main()
