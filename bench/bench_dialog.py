"""Benchmark (not a test): the bundled demo form filled on the page itself and as a modal
dialog page (the stand-in's "Novo": the form in an iframe of a dialog built in the top window,
its popup LOVs' dialogs in the top document), under both pacings, in one headless Chromium.
Each run fills a fresh page once per (place, pacing), in an order that rotates from run to run;
the table gives the median wall time of the whole-form fill and the ratio of the dialog's to
the page's under the same pacing. Both places are served from the same local route.

    .venv/bin/python bench/bench_dialog.py [--runs N]
"""
import argparse
import asyncio
import json
import os
import pathlib
import statistics
import sys
import time

from playwright.async_api import async_playwright

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "browser"))
from dialog_pages import DEMO_DIR, ORIGIN, READY, open_form_in_dialog, serve_demo  # noqa: E402

from ziveviver import ritmo  # noqa: E402
from ziveviver import vexocontrole as vc  # noqa: E402

CHROMIUM = os.environ.get("ZV_CHROMIUM", "/usr/bin/chromium")
PLACES = ("pagina", "dialogo")
PACINGS = ("literal", "adaptativo")


async def target(page, place):
    if place == "dialogo":
        return await open_form_in_dialog(page)
    await serve_demo(page)
    await page.goto(f"{ORIGIN}/form.html")
    await page.wait_for_function(READY)
    return page


async def one_fill(browser, place, pacing):
    page = await browser.new_page(viewport={"width": 1280, "height": 900})
    try:
        form = await target(page, place)
        mapa = json.loads((DEMO_DIR / "mapa.json").read_text(encoding="utf-8"))
        dados = json.loads((DEMO_DIR / "dados.json").read_text(encoding="utf-8"))
        with ritmo.definir(pacing):
            started = time.perf_counter()
            await vc.VexoControleApex(form).fCtPreencTodoForm(mapa, dados)
            return time.perf_counter() - started
    finally:
        await page.close()


async def main(runs):
    combos = [(place, pacing) for pacing in PACINGS for place in PLACES]
    times = {c: [] for c in combos}
    async with async_playwright() as pw:
        browser = await pw.chromium.launch(executable_path=CHROMIUM, args=["--no-sandbox"])
        for r in range(runs):
            for c in combos[r % len(combos):] + combos[:r % len(combos)]:
                times[c].append(await one_fill(browser, *c))
        await browser.close()
    print(f"{'ritmo':<11} {'página (s)':>11} {'diálogo (s)':>12} {'diálogo/página':>15}   ({runs} execuções, mediana)")
    for pacing in PACINGS:
        p = statistics.median(times[("pagina", pacing)])
        d = statistics.median(times[("dialogo", pacing)])
        print(f"{pacing:<11} {p:>11.1f} {d:>12.1f} {d / p:>15.2f}")


if __name__ == "__main__":
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--runs", type=int, default=3)
    asyncio.run(main(ap.parse_args().runs))
