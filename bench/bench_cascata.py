"""Benchmark (not a test): a cascading list's child filled right after its parent, on the
stand-in page answering at once and as a slow server, under both pacings.

For each server latency (the stand-in page's ``?latencia=MS``, which the cascade's refresh
obeys) and each pacing, each run opens a fresh page, fills the parent (P1_PAIS), then the
child (P1_ESTADO) right after it, and then the child once more with another value, nothing
refreshing it then; the two fills of the child are timed. At latency 0 the child's options
are there at once, so its first fill should cost what the second costs (ratio ≈ 1: no time
added when no refresh is in flight); at a higher latency the first waits for the refresh.

Printed: per latency and pacing, the medians of the child's two fills, their ratio, how many
runs left the child holding its value after each, and the page operations each fill called
(the same number for both at latency 0: nothing was asked or waited for).

    .venv/bin/python bench/bench_cascata.py [--runs N] [--latencias 0,3000]
"""
import argparse
import asyncio
import os
import pathlib
import statistics
import time

from playwright.async_api import async_playwright

from ziveviver import ritmo
from ziveviver.vexocontrole import fCtApexPreencDropDownList

ROOT = pathlib.Path(__file__).resolve().parents[1]
FORM_URL = (ROOT / "src" / "ziveviver" / "demo" / "form.html").as_uri()
CHROMIUM = os.environ.get("ZV_CHROMIUM", "/usr/bin/chromium")
CHROMIUM_ARGS = ["--no-sandbox", "--disable-gpu", "--disable-background-networking",
                 "--disable-component-update", "--no-first-run"]


class Counted:
    """The page, counting the page operations the fills call on it."""

    def __init__(self, page):
        self.page, self.ops = page, 0

    def __getattr__(self, name):
        self.ops += 1
        return getattr(self.page, name)


async def one_run(browser, pacing, latency):
    page = await browser.new_page()
    try:
        await page.goto(f"{FORM_URL}?latencia={latency}")
        await page.wait_for_function("window.__zv && window.__zv.ready === true")
        counted = Counted(page)
        with ritmo.definir(pacing):
            await fCtApexPreencDropDownList(page, "#P1_PAIS", "BR")
            t0 = time.perf_counter()
            await fCtApexPreencDropDownList(counted, "#P1_ESTADO", "MG")
            t1 = time.perf_counter()
            ops_after = counted.ops
            first = await page.evaluate("__zv.value('P1_ESTADO')") == "MG"
            t2 = time.perf_counter()
            await fCtApexPreencDropDownList(counted, "#P1_ESTADO", "SP")
            t3 = time.perf_counter()
            ops_again = counted.ops - ops_after
            second = await page.evaluate("__zv.value('P1_ESTADO')") == "SP"
        return t1 - t0, t3 - t2, first and second, ops_after, ops_again
    finally:
        await page.close()


async def main(runs, latencies):
    async with async_playwright() as pw:
        browser = await pw.chromium.launch(executable_path=CHROMIUM, args=CHROMIUM_ARGS)
        try:
            for latency in latencies:
                for pacing in (ritmo.LITERAL, ritmo.ADAPTATIVO):
                    got = [await one_run(browser, pacing, latency) for _ in range(runs)]
                    after = statistics.median(g[0] for g in got) * 1000
                    again = statistics.median(g[1] for g in got) * 1000
                    print(f"latencia {latency:>5} ms  {pacing:<10}  filho após o pai {after:7.1f} ms  "
                          f"filho de novo {again:7.1f} ms  razão {after / again:5.2f}  "
                          f"certos {sum(g[2] for g in got)}/{runs}  operações da página "
                          f"{sorted({g[3] for g in got})} / {sorted({g[4] for g in got})}")
        finally:
            await browser.close()


if __name__ == "__main__":
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--runs", type=int, default=7)
    ap.add_argument("--latencias", default="0,3000")
    a = ap.parse_args()
    asyncio.run(main(a.runs, [int(x) for x in a.latencias.split(",")]))
