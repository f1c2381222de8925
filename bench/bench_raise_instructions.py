"""The cost of an error passing through N C++ coroutine frames, in instructions, counted by
callgrind, beside CPython's own coroutines doing the same.

    .venv/bin/python bench/bench_raise_instructions.py

Each raise starts `raise_through(raise_through, N)`: N + 1 coroutine objects, each awaiting the
next, the innermost raising ValueError, caught by the caller at the top. The bridge's figure
includes the traceback entries it adds (one per frame the error passes through); CPython's
includes its own. As in bench_bridge_instructions.py, each figure is (count with n raises -
count with n/10 raises) / (0.9 n) for the same script, so start-up cancels out. Needs valgrind.
Before/after figures of a change: run it with PYTHONPATH naming a copy of the package built
before the change, then without.
"""
import sys

from bench_bridge_instructions import side_by_side
from ziveviver import _probe as probe

DEPTHS = (0, 4, 9)
N = 4_000


async def py_raise_through(fn, n):
    if n <= 0:
        raise ValueError("raised at the bottom")
    return await fn(fn, n - 1)


def raises(fn, depth, n):
    for _ in range(n):
        coro = fn(fn, depth)
        try:
            coro.send(None)
        except ValueError:
            pass


def child(variant, depth, n):
    raises(py_raise_through if variant == "cpython" else probe.raise_through, depth, n)


def main():
    if sys.argv[1:2] == ["--child"]:
        child(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]))
        return
    print(f"Python {sys.version.split()[0]}: instructions per raise through N + 1 coroutine frames (callgrind)")
    for depth in DEPTHS:
        side_by_side(__file__, f"frames {depth + 1:>3}", (depth,), N, digits=2)


if __name__ == "__main__":
    main()
