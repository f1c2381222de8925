"""Instructions per fill against the recording fake page (each page step suspending once
through the event loop), counted by callgrind, for the build installed in the running
interpreter: compare builds (the default one and the abi3 one, say) by running it under each.

    .venv/bin/python bench/bench_fill_instructions.py [--kind text|lov|idle|grid|form|all]

Kinds: ``text`` fCtPreencText (no pause point); ``lov`` fCtApexPreencPopupLovId whose row is
found (the popup-open pause, the close wait, the idle wait and the final pause); ``idle``
fCtApexWaitStable; ``grid`` one holders row of one text cell (the add and save pauses);
``form`` one whole-form fill (fCtPreencTodoForm: 8 text fields, 2 representative's items, 2
holder rows of 3 cells), where the fill events are emitted (nobody observing them). The
pauses cost nothing on the fake page, so the figure is the bridge's and the C++'s own cost,
pause points included, under the pacing in force (literal unless --ritmo says otherwise).
With --observar every fill runs inside ``eventos.observar()`` with an observer that does
nothing: the cost of delivering the events.

As in bench_bridge_instructions.py, the figure is (count with n fills - count with n/10 fills) /
(0.9 n) for the same script, so start-up cancels out. Needs valgrind.
"""
import argparse
import asyncio
import contextlib
import pathlib
import re
import subprocess
import sys

TESTS = pathlib.Path(__file__).resolve().parents[1] / "tests"
N = {"text": 5_000, "lov": 2_000, "idle": 5_000, "grid": 2_000, "form": 500}
FOUND = {"success": True, "foundId": "105", "foundDisp": "Advogado"}
GRID = {"TitInserir": {"WebSel": "#TIT_ADD"}, "TIT_NOME": {"WebSel": "#P2_TIT_NOME", "ColTipo": "text"},
        "TitGravar": {"WebSel": "#TIT_SAVE"}}
FORM = {**{f"F{i}": {"WebSel": f"#P1_F{i}", "ColTipo": "text"} for i in range(8)},
        "Representantes": {f"R{i}": {"WebSel": f"#P1_R{i}", "ColTipo": "text"} for i in range(2)},
        "Titulares": {"TitInserir": {"WebSel": "#TIT_ADD"},
                      **{f"T{i}": {"WebSel": f"#P2_T{i}", "ColTipo": "text"} for i in range(3)},
                      "TitGravar": {"WebSel": "#TIT_SAVE"}}}
FORM_DATA = {**{f"F{i}": f"v{i}" for i in range(8)}, "RepAtivarPreenc": 1,
             "Representantes": {"R0": "r0", "R1": "r1"},
             "Titulares": [{"T0": "a", "T1": "b", "T2": "c"}, {"T0": "d", "T1": "e", "T2": "f"}]}


def pacing(name):
    if name is None:
        return contextlib.nullcontext()
    from ziveviver import ritmo

    return ritmo.definir(name)


def observing(on):
    if not on:
        return contextlib.nullcontext()
    from ziveviver import eventos

    return eventos.observar(lambda event: None)


def child(kind, n, ritmo_name, observe):
    sys.path.insert(0, str(TESTS))
    from fakepage import FakePage
    from ziveviver import vexocontrole as vc

    class Discard(list):
        def append(self, item):
            pass

    page = FakePage(suspend=True)
    page.ops = Discard()
    if kind == "lov":
        page.on("evaluate", FOUND)
    ctl = vc.VexoControleApex(page)
    one = {
        "text": lambda i: vc.fCtPreencText(page, "#P1_NOME", i),
        "lov": lambda i: vc.fCtApexPreencPopupLovId(page, "#P1_PROFISSAO", "105"),
        "idle": lambda i: vc.fCtApexWaitStable(page),
        "grid": lambda i: ctl.fPreencGridTitular(GRID, [{"TIT_NOME": i}]),
        "form": lambda i: ctl.fCtPreencTodoForm(FORM, FORM_DATA),
    }[kind]

    async def fills():
        with pacing(ritmo_name), observing(observe):
            for i in range(n):
                await one(i)

    asyncio.run(fills())


def instructions(kind, n, ritmo_name, observe):
    extra = (["--ritmo", ritmo_name] if ritmo_name else []) + (["--observar"] if observe else [])
    out = subprocess.run(
        ["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null", sys.executable, __file__,
         "--child", kind, str(n), *extra], capture_output=True, text=True, check=True)
    return int(re.search(r"Collected : (\d+)", out.stderr).group(1))


def main():
    if sys.argv[1:2] == ["--child"]:
        ritmo_name = sys.argv[5] if sys.argv[4:5] == ["--ritmo"] else None
        child(sys.argv[2], int(sys.argv[3]), ritmo_name, "--observar" in sys.argv)
        return
    ap = argparse.ArgumentParser()
    ap.add_argument("--kind", choices=[*N, "all"], default="text")
    ap.add_argument("--ritmo", default=None, help="pacing to fill under (default: none set)")
    ap.add_argument("--observar", action="store_true", help="fill with an observer of the events")
    args = ap.parse_args()
    from ziveviver import vexocontrole

    for kind in (list(N) if args.kind == "all" else [args.kind]):
        n = N[kind]
        per = (instructions(kind, n, args.ritmo, args.observar)
               - instructions(kind, n // 10, args.ritmo, args.observar)) / (n - n // 10)
        observed = ", observed" if args.observar else ""
        print(f"Python {sys.version.split()[0]}, {pathlib.Path(vexocontrole.__file__).name}, {kind}{observed}: "
              f"{per:.0f} instructions per fill (callgrind)", flush=True)


if __name__ == "__main__":
    main()
