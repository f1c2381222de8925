"""Benchmark (not a test): the rows of Interactive Grids (the stand-in's form_ig.html, the bundled
mapa_ig.json / dados_ig.json: two holders of five cell kinds, one beneficiary of three) filled
under the literal and the adaptive pacing, side by side in one run, with the stand-in page
answering at once and as a slow server (``?latencia=MS``).

Each run fills both grids once under each pacing, in an order that alternates from run to run,
each fill in a fresh page of one headless Chromium. The wall time is measured around the two
grid fills alone (fPreencGridTitular and fPreencGridBeneficiario); afterwards the receipt
(fCtConferirForm) says how many grid cells landed and whether the grids were saved.

Printed: per latency and pacing, the median time per row and every run's total, the ratio of
the literal median to the adaptive one, and the receipt counts (landed / expected).

    .venv/bin/python bench/bench_ig.py [--runs N] [--latencias 0,1500]
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

from ziveviver import ritmo
from ziveviver.vexoconferencia import fCtConferirForm
from ziveviver.vexocontrole import VexoControleApex

ROOT = pathlib.Path(__file__).resolve().parents[1]
DEMO = ROOT / "src" / "ziveviver" / "demo"
FORM_URL = (DEMO / "form_ig.html").as_uri()
CHROMIUM = os.environ.get("ZV_CHROMIUM", "/usr/bin/chromium")
CHROMIUM_ARGS = ["--no-sandbox", "--disable-gpu", "--disable-background-networking",
                 "--disable-component-update", "--no-first-run"]
PACINGS = (ritmo.LITERAL, ritmo.ADAPTATIVO)


def load_inputs():
    return (json.loads((DEMO / "mapa_ig.json").read_text(encoding="utf-8")),
            json.loads((DEMO / "dados_ig.json").read_text(encoding="utf-8")))


async def one_fill(browser, pacing, latency):
    mapping, data = load_inputs()
    rows = len(data["Titulares"]) + len(data["Beneficiarios"])
    page = await browser.new_page(viewport={"width": 1280, "height": 900})
    try:
        await page.goto(f"{FORM_URL}?latencia={latency}")
        await page.wait_for_function("window.__zv && window.__zv.ready === true && !!window.__zv.ig")
        ctl = VexoControleApex(page)
        with ritmo.definir(pacing):
            t0 = time.perf_counter()
            await ctl.fPreencGridTitular(mapping["Titulares"], data["Titulares"])
            await ctl.fPreencGridBeneficiario(mapping["Beneficiarios"], data["Beneficiarios"])
            took = time.perf_counter() - t0
        receipt = await fCtConferirForm(page, {k: mapping[k] for k in ("Titulares", "Beneficiarios")},
                                        {"Titulares": data["Titulares"], "Beneficiarios": data["Beneficiarios"]})
        cells = [r for r in receipt if r["linha"] is not None and r["estado"] != "vazio"]
        landed = sum(r["estado"] == "igual" for r in cells)
        saved = all(r["estado"] == "igual" for r in receipt if r["linha"] is None)
        return took, rows, landed, len(cells), saved
    finally:
        await page.close()


async def main(runs, latencies):
    async with async_playwright() as pw:
        browser = await pw.chromium.launch(executable_path=CHROMIUM, args=CHROMIUM_ARGS)
        results = {}
        for latency in latencies:
            for run in range(runs):
                order = PACINGS if run % 2 == 0 else PACINGS[::-1]
                for pacing in order:
                    r = await one_fill(browser, pacing, latency)
                    results.setdefault((latency, pacing), []).append(r)
                    took, rows, landed, expected, saved = r
                    print(f"latência {latency:>5} ms  run {run + 1}  {pacing:<10} {took:7.2f} s  "
                          f"{took / rows:6.2f} s/linha  recibo {landed}/{expected}{'' if saved else ' NÃO GRAVADO'}",
                          flush=True)
        await browser.close()

    print(f"\nPython {sys.version.split()[0]}; medianas de {runs} preenchimentos das grelhas interativas")
    print(f"{'latência':>9}  {'ritmo':<10} {'s/linha':>8}  {'totais':<28} recibos")
    for latency in latencies:
        medians = {}
        for pacing in PACINGS:
            rs = results[(latency, pacing)]
            medians[pacing] = statistics.median(t / n for t, n, _, _, _ in rs)
            each = " ".join(f"{t:.2f}" for t, _, _, _, _ in rs)
            receipts = " ".join(f"{landed}/{expected}" + ("" if saved else "!") for _, _, landed, expected, saved in rs)
            print(f"{latency:>6} ms  {pacing:<10} {medians[pacing]:7.2f}s  {each:<28} {receipts}")
        ratio = medians[ritmo.LITERAL] / medians[ritmo.ADAPTATIVO]
        print(f"{latency:>6} ms  literal / adaptativo = ×{ratio:.2f}")


if __name__ == "__main__":
    ap = argparse.ArgumentParser()
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--latencias", default="0,1500")
    args = ap.parse_args()
    asyncio.run(main(args.runs, [int(x) for x in args.latencias.split(",")]))
