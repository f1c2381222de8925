"""Resident memory of a whole-form fill (not a test): the demo form filled in headless
Chromium, the Python process's resident memory sampled every 20 ms during the fill.

    .venv/bin/python bench/bench_form_memory.py [--fills N]

Reported, in one run: resident memory once the browser and the page are up and the modules
are imported (the baseline), the peak during each fill and what remains after it, and the
ratio peak / baseline; then the same for a fill against the recording page (no browser),
which isolates what the fill itself holds. Chromium's own processes are not counted.
"""
import argparse
import asyncio
import json
import os
import pathlib
import sys

from playwright.async_api import async_playwright

ROOT = pathlib.Path(__file__).resolve().parents[1]
DEMO = ROOT / "src" / "ziveviver" / "demo"
FORM_URL = (DEMO / "form.html").as_uri()
CHROMIUM = os.environ.get("ZV_CHROMIUM", "/usr/bin/chromium")

sys.path.insert(0, str(ROOT / "tests"))
from fakepage import FakePage  # noqa: E402
from ziveviver import vexocontrole as vc  # noqa: E402


def rss_kib():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") // 1024


async def sampled(coro):
    """Runs coro while sampling resident memory; returns the peak seen."""
    peak = rss_kib()
    done = asyncio.Event()

    async def sampler():
        nonlocal peak
        while not done.is_set():
            peak = max(peak, rss_kib())
            await asyncio.sleep(0.02)

    task = asyncio.ensure_future(sampler())
    try:
        await coro
    finally:
        done.set()
        await task
    return max(peak, rss_kib())


def demo():
    return (json.loads((DEMO / "mapa.json").read_text(encoding="utf-8")),
            json.loads((DEMO / "dados.json").read_text(encoding="utf-8")))


async def in_chromium(fills):
    async with async_playwright() as pw:
        browser = await pw.chromium.launch(executable_path=CHROMIUM, args=["--no-sandbox", "--disable-gpu"])
        rows = []
        for _ in range(fills):
            page = await browser.new_page()
            await page.goto(FORM_URL)
            await page.wait_for_function("window.__zv && window.__zv.ready === true")
            base = rss_kib()
            mapa, dados = demo()
            peak = await sampled(vc.VexoControleApex(page).fCtPreencTodoForm(mapa, dados))
            rows.append((base, peak, rss_kib()))
            await page.close()
        await browser.close()
    return rows


async def against_fake_page():
    page = FakePage(suspend=True)
    page.on("evaluate", {"success": True, "foundId": "1", "foundDisp": "um"})  # the LOV scripts find their row
    saved = vc.asyncio
    vc.asyncio = type("NoSleep", (), {"sleep": staticmethod(lambda d: asyncio.sleep(0))})
    try:
        base = rss_kib()
        mapa, dados = demo()
        peak = await sampled(vc.VexoControleApex(page).fCtPreencTodoForm(mapa, dados))
        return base, peak, rss_kib()
    finally:
        vc.asyncio = saved


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--fills", type=int, default=2)
    args = ap.parse_args()
    print(f"Python {sys.version.split()[0]}: resident memory of the Python process (KiB)")
    for i, (base, peak, after) in enumerate(asyncio.run(in_chromium(args.fills)), 1):
        print(f"  Chromium, fill {i}: baseline {base}  peak {peak} (+{peak - base})  after {after} "
              f"(+{after - base})  ratio peak/baseline {peak / base:.3f}")
    base, peak, after = asyncio.run(against_fake_page())
    print(f"  recording page:  baseline {base}  peak {peak} (+{peak - base})  after {after} "
          f"(+{after - base})  ratio peak/baseline {peak / base:.3f}")


if __name__ == "__main__":
    main()
