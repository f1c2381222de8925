"""Instructions per text fill (fCtPreencText against the recording fake page, each page step
suspending once through the event loop), counted by callgrind, for the build installed in the
running interpreter: compare builds (the default one and the abi3 one, say) by running it under
each.

    .venv/bin/python bench/bench_fill_instructions.py
    .venv/bin/python bench/bench_fill_instructions.py --form

With --form the unit is one whole-form fill (fCtPreencTodoForm: 8 text fields, 2
representative's items, 2 holder rows of 3 cells, nobody observing its events): this is where
the fill events are emitted, so compare a build with them against one without.

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


FORM_N = 500
FORM = {**{f"F{i}": {"WebSel": f"#P1_F{i}", "ColTipo": "text"} for i in range(8)},
        "Representantes": {f"R{i}": {"WebSel": f"#P1_R{i}", "ColTipo": "text"} for i in range(2)},
        "Titulares": {"TitInserir": {"WebSel": "#TIT_ADD"},
                      **{f"T{i}": {"WebSel": f"#P2_T{i}", "ColTipo": "text"} for i in range(3)},
                      "TitGravar": {"WebSel": "#TIT_SAVE"}}}
FORM_DATA = {**{f"F{i}": f"v{i}" for i in range(8)}, "RepAtivarPreenc": 1,
             "Representantes": {"R0": "r0", "R1": "r1"},
             "Titulares": [{"T0": "a", "T1": "b", "T2": "c"}, {"T0": "d", "T1": "e", "T2": "f"}]}


def child(n, form):
    sys.path.insert(0, str(TESTS))
    from fakepage import FakePage
    from ziveviver import vexocontrole as vc

    class Discard(list):
        def append(self, item):
            pass

    async def fills(page):
        for i in range(n):
            await vc.fCtPreencText(page, "#P1_NOME", i)

    async def forms(page):
        ctl = vc.VexoControleApex(page, False)
        for _ in range(n):
            await ctl.fCtPreencTodoForm(FORM, FORM_DATA)

    page = FakePage(suspend=True)
    page.ops = Discard()
    asyncio.run(forms(page) if form else fills(page))


def instructions(n, form):
    out = subprocess.run(
        ["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null", sys.executable, __file__,
         "--child", str(n), *(["--form"] if form else [])], capture_output=True, text=True, check=True)
    return int(re.search(r"Collected : (\d+)", out.stderr).group(1))


def main():
    if sys.argv[1:2] == ["--child"]:
        child(int(sys.argv[2]), "--form" in sys.argv)
        return
    from ziveviver import vexocontrole

    form = "--form" in sys.argv
    n = FORM_N if form else N
    per = (instructions(n, form) - instructions(n // 10, form)) / (n - n // 10)
    print(f"Python {sys.version.split()[0]}, {pathlib.Path(vexocontrole.__file__).name}: "
          f"{per:.0f} instructions per {'whole-form fill' if form else 'text fill'} (callgrind)")


if __name__ == "__main__":
    main()
