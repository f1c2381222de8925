"""Resident memory over many text fills against the recording fake page.

    .venv/bin/python bench/bench_memory.py [calls]      (default 1,000,000)
"""
import asyncio
import gc
import os
import pathlib
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "tests"))

from fakepage import FakePage  # noqa: E402
from ziveviver import vexocontrole as vc  # noqa: E402


class Discard(list):
    def append(self, item):
        pass


def rss_kib():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") // 1024


async def fills(page, n):
    for i in range(n):
        await vc.fCtPreencText(page, "#P1_NOME", i)


def main():
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 1_000_000
    page = FakePage(suspend=True)
    page.ops = Discard()
    asyncio.run(fills(page, 20_000))
    gc.collect()
    before = rss_kib()
    asyncio.run(fills(page, n))
    gc.collect()
    after = rss_kib()
    print(f"{n} text fills: resident {before} KiB -> {after} KiB, growth {after - before} KiB")


if __name__ == "__main__":
    main()
