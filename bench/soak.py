"""Leak soak (not a test): 1,000,000 primitive calls and 10,000 whole-form fills against the
recording page, with debug logging on (messages built, then discarded), taking the success
paths and the failure paths (time-outs, retries, not-found errors, screened values) in turn.
Resident memory and tracemalloc's traced memory are printed at checkpoints; the growth from
the first checkpoint to the last is the figure, and the run fails if it is not flat.

    .venv/bin/python bench/soak.py [--calls N] [--forms N]
"""
import argparse
import asyncio
import gc
import itertools
import json
import os
import pathlib
import sys
import time
import tracemalloc
import types

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests"))
sys.path.insert(0, str(ROOT / "tests" / "unit"))

from fakepage import FakePage, TimeoutError  # noqa: E402
from scripts_of import script_name  # noqa: E402
from ziveviver import vexocontrole as vc  # noqa: E402

# "Flat": what the process may gain once warm, over the whole run.
RSS_LIMIT_KIB = 4096
TRACED_LIMIT_KIB = 256


class Discard(list):
    def append(self, item):
        pass


class QuietLogger:
    """Takes every record and keeps none; exc_info is looked at as logging would."""

    def info(self, msg, **kw):
        pass

    warning = debug = info

    def error(self, msg, exc_info=False, **kw):
        if exc_info:
            sys.exc_info()


class Factory:
    logger = QuietLogger()

    @classmethod
    def fLog(cls, **kw):
        return cls.logger


def make_page(fail=False):
    page = FakePage()
    page.ops = Discard()
    scripts = {}

    def evaluate(_, kw):
        name = scripts.get(kw["script"])
        if name is None:
            name = scripts[kw["script"]] = script_name(kw["script"])
        if name in ("lov_id", "lov_desc"):
            if fail:
                return {"success": False, "error": "Item com data-id=\"x\" nao encontrado"}
            return {"success": True, "foundId": "1", "foundDisp": "um"}
        return None

    page.on("evaluate", call=evaluate)
    if fail:
        for op in ("wait_for_selector", "first.wait_for", "wait_for_function", "select_option"):
            page.on(op, raises=TimeoutError)  # a fresh error each time
    return page


def primitive_calls(ok, bad):
    """One call of each kind per round, success and failure paths alike."""
    cfg = {"WebSel": "#P1_NOME", "ColTipo": "TEXT", "ColNome": "NOME"}

    async def step():
        return 1

    return [
        lambda: vc.fCtPreencText(ok, "#P1_NOME", "Ana"),
        lambda: vc.fCtPreencText(bad, "#P1_NOME", "Ana"),            # time-out, error line
        lambda: vc.fCtPreencTextArea(ok, "#P1_OBS", 12),
        lambda: vc.fCtPreencAutoComplete(ok, "#P1_CIDADE", "Porto"),
        lambda: vc.fCtPreencCheckRadio(ok, "#P1_SEXO", "0"),
        lambda: vc.fCtPreencCheckMultiple(bad, "#P1_CANAIS", "1"),   # three attempts, raises
        lambda: vc.fCtPreencDatepicker(ok, "#P1_DATA", "01/02/2003"),
        lambda: vc.fCtApexPreencDropDownList(bad, "#P1_PAIS", "BR"),
        lambda: vc.fCtApexPreencDropDownList(ok, "#P1_PAIS", "BR"),
        lambda: vc.fCtApexPreencMultiSelect(ok, "#P1_IDIOMAS", ["PT", "EN"]),
        lambda: vc.fCtApexPreencPopupLovDesc(ok, "#P1_BANCO", "Aurora"),
        lambda: vc.fCtApexPreencPopupLovDesc(bad, "#P1_BANCO", "Aurora"),  # raises
        lambda: vc.fCtApexPreencPopupLovId(ok, "#P1_PROF", "101"),
        lambda: vc.fCtApexPreencPopupLovId(ok, "#P1_PROF", "0"),     # screened out
        lambda: vc.fCtApexWaitStable(bad, 10),
        lambda: vc.fCtApexIdentTipoCampoPreenc(ok, cfg, "Ana"),
        lambda: vc.fCtApexIdentTipoCampoPreenc(ok, {"WebSel": "#X", "ColTipo": "nada"}, 1),  # raises
        lambda: vc.fCtRetry(step),
        lambda: vc.fCtPopUpHtml(ok, "Pronto"),
    ]


def rss_kib():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") // 1024


async def run_calls(calls, n):
    it = itertools.cycle(calls)
    for _ in range(n):
        try:
            await next(it)()
        except Exception:  # noqa: BLE001 - the failure paths end in errors by design
            pass


async def run_forms(page, mapping, data, n):
    for _ in range(n):
        ctl = vc.VexoControleApex(page, True)
        await ctl.fCtPreencTodoForm(json.loads(mapping), json.loads(data))


def soak(label, batch, total, checkpoints=10):
    """Runs `batch(k)` for `total` units in `checkpoints` slices; prints and returns the
    growth of resident and traced memory from the first checkpoint to the last."""
    per = total // checkpoints
    rows = []
    t0 = time.perf_counter()
    snap0 = None
    for i in range(checkpoints):
        asyncio.run(batch(per))
        gc.collect()
        traced = tracemalloc.get_traced_memory()[0] // 1024
        rows.append((rss_kib(), traced))
        if i == 0:
            snap0 = tracemalloc.take_snapshot()
        print(f"  {label}: {(i + 1) * per:>9,} done  resident {rows[-1][0]:>7} KiB  traced {traced:>6} KiB"
              f"  ({time.perf_counter() - t0:6.1f} s)", flush=True)
    growth = (rows[-1][0] - rows[0][0], rows[-1][1] - rows[0][1])
    if growth[1] > 0:
        top = tracemalloc.take_snapshot().compare_to(snap0, "lineno")[:5]
        for stat in top:
            print("    ", stat)
    return growth


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--calls", type=int, default=1_000_000)
    ap.add_argument("--forms", type=int, default=10_000)
    args = ap.parse_args()

    vc.VexoFuncoes = Factory
    vc.asyncio = types.SimpleNamespace(sleep=lambda d: asyncio.sleep(0))  # retries without waiting
    ok, bad = make_page(), make_page(fail=True)
    vc.VexoControleApex(ok, True)
    calls = primitive_calls(ok, bad)
    demo = ROOT / "src" / "ziveviver" / "demo"
    mapping = (demo / "mapa.json").read_text(encoding="utf-8")
    data = (demo / "dados.json").read_text(encoding="utf-8")

    # warm up: caches, free lists, interned names
    asyncio.run(run_calls(calls, 20_000))
    asyncio.run(run_forms(ok, mapping, data, 100))
    gc.collect()
    tracemalloc.start()
    print(f"Python {sys.version.split()[0]}; {len(calls)} kinds of primitive call in turn")

    calls_growth = soak("primitive calls", lambda k: run_calls(calls, k), args.calls)
    forms_growth = soak("whole-form fills", lambda k: run_forms(ok, mapping, data, k), args.forms)
    tracemalloc.stop()

    ok_all = True
    for label, (rss, traced) in (("primitive calls", calls_growth), ("whole-form fills", forms_growth)):
        flat = rss <= RSS_LIMIT_KIB and traced <= TRACED_LIMIT_KIB
        ok_all &= flat
        print(f"{label}: growth from the first checkpoint to the last: resident {rss:+} KiB, "
              f"traced {traced:+} KiB -> {'flat' if flat else 'NOT FLAT'}")
    sys.exit(0 if ok_all else 1)


if __name__ == "__main__":
    main()
