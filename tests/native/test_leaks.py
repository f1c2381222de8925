"""Repeated fills hold on to nothing: memory and object counts stay flat."""
import asyncio
import gc
import json
import pathlib
import subprocess
import sys
import tracemalloc

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1]))

from fakepage import FakePage  # noqa: E402
from ziveviver import _probe as probe  # noqa: E402
from ziveviver import vexocontrole as vc  # noqa: E402


async def fill_many(page, n):
    for i in range(n):
        await vc.fCtPreencText(page, "#P1_NOME", i)


def fills(n):
    page = FakePage(suspend=False)
    page.ops = _Discard()
    asyncio.run(fill_many(page, n))


def raise_many(n):
    for _ in range(n):
        coro = probe.raise_through(probe.raise_through, 3)
        try:
            coro.send(None)
        except ValueError:
            pass


WORK = {"fills": fills, "raise_many": raise_many}


def measure(kind, warm_n, work_n):
    """Runs the work `warm_n` times (caches and free lists fill), then `work_n` times: the
    bytes and the objects the second run left behind."""
    work = WORK[kind]
    work(warm_n)
    gc.collect()
    tracemalloc.start()
    before_objects = len(gc.get_objects())
    base = tracemalloc.take_snapshot()
    work(work_n)
    gc.collect()
    after = tracemalloc.take_snapshot()
    tracemalloc.stop()
    mine = [tracemalloc.Filter(False, tracemalloc.__file__)]  # the first snapshot itself
    grown = sum(d.size_diff for d in after.filter_traces(mine).compare_to(base.filter_traces(mine), "filename"))
    return grown, len(gc.get_objects()) - before_objects


def growth(kind, warm_n, work_n):
    """`measure` in an interpreter of its own: a test runner's threads (pytest-xdist's worker
    receives its next tests meanwhile) allocate nothing there."""
    done = subprocess.run([sys.executable, __file__, kind, str(warm_n), str(work_n)],
                          capture_output=True, text=True, timeout=600)
    assert done.returncode == 0, done.stderr
    return json.loads(done.stdout.splitlines()[-1])


def test_100k_text_fills_against_the_fake_page_leave_memory_flat():
    grown, objects = growth("fills", 5_000, 100_000)
    assert grown < 64 * 1024, f"grew by {grown} bytes"
    assert objects < 1000


def test_20k_errors_through_cpp_frames_leave_memory_flat():
    # warm: the traceback entries' code objects are made once per place. One object kept
    # per error would be 20,000; the interpreter's own warm-up leaves some dozens (the abi3
    # build runs Python code for each entry).
    grown, objects = growth("raise_many", 1_000, 20_000)
    assert grown < 32 * 1024, f"grew by {grown} bytes"
    assert objects < 1000


class _Discard(list):
    """An ops list that keeps nothing (the fake page would otherwise record every call)."""

    def append(self, item):
        pass


if __name__ == "__main__":
    print(json.dumps(measure(sys.argv[1], int(sys.argv[2]), int(sys.argv[3]))))
