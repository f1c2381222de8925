"""Benchmark (not a test): the whole demo form under the literal and the adaptive pacing,
side by side in one run, with the stand-in page answering at once and as a slow server.

For each server latency (the stand-in page's ``?latencia=MS``: every simulated server answer
comes that much later) and each run, the demo form is filled once under each pacing, in an
order that alternates from run to run, each fill in a fresh page of one headless Chromium.
Each fill's wall time is measured around ``fCtPreencTodoForm``; afterwards the receipt
(``fCtConferirForm``) says how many fields landed out of those the data fills.

Printed: per latency and pacing, the median wall time and every run's, the ratio of the
literal median to the adaptive one, and the receipt counts (landed / expected) of every run.

    .venv/bin/python bench/bench_ritmo.py [--runs N] [--latencias 0,1500]
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
FORM_URL = (DEMO / "form.html").as_uri()
CHROMIUM = os.environ.get("ZV_CHROMIUM", "/usr/bin/chromium")
CHROMIUM_ARGS = ["--no-sandbox", "--disable-gpu", "--disable-background-networking",
                 "--disable-component-update", "--no-first-run"]
PACINGS = (ritmo.LITERAL, ritmo.ADAPTATIVO)


def load_inputs():
    return (json.loads((DEMO / "mapa.json").read_text(encoding="utf-8")),
            json.loads((DEMO / "dados.json").read_text(encoding="utf-8")))


def receipt_counts(rows):
    """(landed, expected): rows the page holds as the data says, of those the data fills."""
    expected = [r for r in rows if r["estado"] != "vazio"]
    return sum(r["estado"] == "igual" for r in expected), len(expected)


async def one_fill(browser, pacing, latency):
    mapping, data = load_inputs()
    page = await browser.new_page(viewport={"width": 1280, "height": 900})
    try:
        await page.goto(f"{FORM_URL}?latencia={latency}")
        await page.wait_for_function("window.__zv && window.__zv.ready === true")
        with ritmo.definir(pacing):
            t0 = time.perf_counter()
            await VexoControleApex(page).fCtPreencTodoForm(mapping, data)
            took = time.perf_counter() - t0
        rows = await fCtConferirForm(page, *load_inputs())
        return took, receipt_counts(rows)
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
                    took, (landed, expected) = await one_fill(browser, pacing, latency)
                    results.setdefault((latency, pacing), []).append((took, landed, expected))
                    print(f"latência {latency:>5} ms  run {run + 1}  {pacing:<10} {took:7.2f} s  "
                          f"recibo {landed}/{expected}", flush=True)
        await browser.close()

    print(f"\nPython {sys.version.split()[0]}; medianas de {runs} preenchimentos do formulário de demonstração")
    print(f"{'latência':>9}  {'ritmo':<10} {'mediana':>8}  {'cada um':<28} recibos")
    for latency in latencies:
        medians = {}
        for pacing in PACINGS:
            rs = results[(latency, pacing)]
            medians[pacing] = statistics.median(t for t, _, _ in rs)
            each = " ".join(f"{t:.2f}" for t, _, _ in rs)
            receipts = " ".join(f"{landed}/{expected}" for _, landed, expected in rs)
            print(f"{latency:>6} ms  {pacing:<10} {medians[pacing]:7.2f}s  {each:<28} {receipts}")
        ratio = medians[ritmo.LITERAL] / medians[ritmo.ADAPTATIVO]
        print(f"{latency:>6} ms  literal / adaptativo = ×{ratio:.2f}")


if __name__ == "__main__":
    ap = argparse.ArgumentParser()
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--latencias", default="0,1500")
    args = ap.parse_args()
    asyncio.run(main(args.runs, [int(x) for x in args.latencias.split(",")]))
