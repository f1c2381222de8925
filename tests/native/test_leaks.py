"""Repeated fills hold on to nothing: memory and object counts stay flat."""
import asyncio
import gc
import sys
import pathlib
import tracemalloc

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1]))

from fakepage import FakePage  # noqa: E402
from ziveviver import _probe as probe  # noqa: E402
from ziveviver import vexocontrole as vc  # noqa: E402


async def fill_many(page, n):
    for i in range(n):
        await vc.fCtPreencText(page, "#P1_NOME", i)


def growth(warm, work):
    """Runs warm() (caches and free lists fill), then work(): the bytes and the objects that
    work() left behind."""
    warm()
    gc.collect()
    tracemalloc.start()
    before_objects = len(gc.get_objects())
    base = tracemalloc.take_snapshot()
    work()
    gc.collect()
    after = tracemalloc.take_snapshot()
    tracemalloc.stop()
    # Left out: the first snapshot itself, and what a test runner's own threads allocate
    # meanwhile (pytest-xdist's worker receives its next tests while this one runs).
    others = [tracemalloc.Filter(False, pattern) for pattern in (tracemalloc.__file__, "*/execnet/*", "*/xdist/*")]
    grown = sum(d.size_diff for d in after.filter_traces(others).compare_to(base.filter_traces(others), "filename"))
    return grown, len(gc.get_objects()) - before_objects


def test_100k_text_fills_against_the_fake_page_leave_memory_flat():
    page = FakePage(suspend=False)
    page.ops = _Discard()
    grown, objects = growth(lambda: asyncio.run(fill_many(page, 5_000)),
                            lambda: asyncio.run(fill_many(page, 100_000)))
    assert grown < 64 * 1024, f"grew by {grown} bytes"
    assert objects < 1000


def raise_many(n):
    for _ in range(n):
        coro = probe.raise_through(probe.raise_through, 3)
        try:
            coro.send(None)
        except ValueError:
            pass


def test_20k_errors_through_cpp_frames_leave_memory_flat():
    # warm: the traceback entries' code objects are made once per place. One object kept
    # per error would be 20,000; the interpreter's own warm-up leaves some dozens (the abi3
    # build runs Python code for each entry).
    grown, objects = growth(lambda: raise_many(1_000), lambda: raise_many(20_000))
    assert grown < 32 * 1024, f"grew by {grown} bytes"
    assert objects < 1000


class _Discard(list):
    """An ops list that keeps nothing (the fake page would otherwise record every call)."""

    def append(self, item):
        pass
