"""Instructions per text fill (fCtPreencText against the recording fake page, each page step
suspending once through the event loop), counted by callgrind, for the build installed in the
running interpreter: compare builds (the default one and the abi3 one, say) by running it under
each.

    .venv/bin/python bench/bench_fill_instructions.py

As in bench_bridge_instructions.py, the figure is (count with n fills - count with n/10 fills) /
(0.9 n) for the same script, so start-up cancels out. Needs valgrind.
"""
import asyncio
import pathlib
import re
import subprocess
import sys

TESTS = pathlib.Path(__file__).resolve().parents[1] / "tests"
N = 5_000


def child(n):
    sys.path.insert(0, str(TESTS))
    from fakepage import FakePage
    from ziveviver import vexocontrole as vc

    class Discard(list):
        def append(self, item):
            pass

    async def fills(page):
        for i in range(n):
            await vc.fCtPreencText(page, "#P1_NOME", i)

    page = FakePage(suspend=True)
    page.ops = Discard()
    asyncio.run(fills(page))


def instructions(n):
    out = subprocess.run(
        ["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null", sys.executable, __file__,
         "--child", str(n)], capture_output=True, text=True, check=True)
    return int(re.search(r"Collected : (\d+)", out.stderr).group(1))


def main():
    if sys.argv[1:2] == ["--child"]:
        child(int(sys.argv[2]))
        return
    from ziveviver import vexocontrole

    per = (instructions(N) - instructions(N // 10)) / (N - N // 10)
    print(f"Python {sys.version.split()[0]}, {pathlib.Path(vexocontrole.__file__).name}: "
          f"{per:.0f} instructions per text fill (callgrind)")


if __name__ == "__main__":
    main()
