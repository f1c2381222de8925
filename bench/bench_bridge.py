"""The bridge against CPython's own coroutines doing the same awaits, side by side in one run.

    .venv/bin/python bench/bench_bridge.py [--quick]

(1) a coroutine awaiting three trivially completing awaitables, driven by send();
(2) the same with an event-loop round trip per await (asyncio.sleep(0)), under asyncio.run.
Prints medians per call and the ratio bridge / CPython.
"""
import asyncio
import statistics
import sys
import time

from ziveviver import _probe as probe


async def one():
    return 1


async def py_await3(fn):
    r = await fn()
    r = await fn()
    r = await fn()
    return r


def sleep0():
    return asyncio.sleep(0)


def trivial(make, n):
    t0 = time.perf_counter()
    for _ in range(n):
        c = make(one)
        try:
            c.send(None)
        except StopIteration:
            pass
    return (time.perf_counter() - t0) / n


def round_trips(make, n):
    async def main():
        t0 = time.perf_counter()
        for _ in range(n):
            await make(sleep0)
        return (time.perf_counter() - t0) / n

    return asyncio.run(main())


def compare(label, fn, n, repeats):
    ours, theirs = [], []
    for _ in range(repeats):  # interleaved, so drift affects both alike
        theirs.append(fn(py_await3, n))
        ours.append(fn(probe.await3, n))
    mo, mt = statistics.median(ours), statistics.median(theirs)
    print(f"{label:<34} CPython {mt * 1e9:9.0f} ns   bridge {mo * 1e9:9.0f} ns   ratio {mo / mt:5.3f}")
    return mo / mt


def main():
    quick = "--quick" in sys.argv
    print(f"Python {sys.version.split()[0]}")
    compare("(1) three trivial awaits", trivial, 50_000 if quick else 300_000, 5 if quick else 11)
    compare("(2) three event-loop round trips", round_trips, 5_000 if quick else 30_000, 5 if quick else 9)


if __name__ == "__main__":
    main()
