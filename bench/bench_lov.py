"""Benchmark (not a test): the popup LOV fill by id in real Chromium on the stand-in form,
against the pauses the fill must make: 1800 ms after opening the popup, 500 ms per load-more
click, the idle wait's 300 ms and 1000 ms at the end.

Each page operation the fill makes goes through a timing wrapper around the real page, so
the report shows where the time beyond those pauses goes. Medians of several runs.

    .venv/bin/python bench/bench_lov.py [--runs N]
"""
import argparse
import asyncio
import os
import pathlib
import statistics
import time

from playwright.async_api import async_playwright

from ziveviver import vexocontrole as vc

FORM_URL = (pathlib.Path(__file__).resolve().parents[1] / "src" / "ziveviver" / "demo" / "form.html").as_uri()
CHROMIUM = os.environ.get("ZV_CHROMIUM", "/usr/bin/chromium")
CASES = [("page 1", "105", 0), ("page 3", "145", 2)]  # (label, id, load-more clicks)


class Timed:
    """Forwards to the real page and keeps (step, seconds) for every awaited operation."""

    def __init__(self, page, log):
        self._page, self._log = page, log
        self.keyboard = _Keys(page.keyboard, log)

    def __getattr__(self, name):
        return getattr(self._page, name)

    async def _time(self, step, aw):
        t0 = time.perf_counter()
        try:
            return await aw
        finally:
            self._log.append((step, time.perf_counter() - t0))

    def locator(self, sel):
        return _Loc(self._page.locator(sel), self)

    def wait_for_timeout(self, ms):
        return self._time(f"pause {ms}", self._page.wait_for_timeout(ms))

    def evaluate(self, script, *args):
        step = "row search script" if args else "close-button script"
        return self._time(step, self._page.evaluate(script, *args))

    def wait_for_selector(self, sel, **kw):
        return self._time("close wait (5000 limit)", self._page.wait_for_selector(sel, **kw))

    def wait_for_function(self, script, **kw):
        return self._time("idle wait: indicator check", self._page.wait_for_function(script, **kw))


class _Loc:
    def __init__(self, loc, owner):
        self._loc, self._owner = loc, owner

    def click(self):
        return self._owner._time("LOV button click", self._loc.click())


class _Keys:
    def __init__(self, kb, log):
        self._kb, self._log = kb, log

    async def press(self, key):
        t0 = time.perf_counter()
        try:
            return await self._kb.press(key)
        finally:
            self._log.append((f"press {key}", time.perf_counter() - t0))


async def one_run(browser, value):
    page = await browser.new_page()
    try:
        await page.goto(FORM_URL)
        await page.wait_for_function("window.__zv && window.__zv.ready === true")
        log = []
        t0 = time.perf_counter()
        await vc.fCtApexPreencPopupLovId(Timed(page, log), "#P1_PROFISSAO", value)
        total = time.perf_counter() - t0
        assert await page.evaluate("__zv.value('P1_PROFISSAO')") == value
        return total, log
    finally:
        await page.close()


async def main(runs):
    vc.gDebugDev = False
    async with async_playwright() as pw:
        browser = await pw.chromium.launch(executable_path=CHROMIUM, args=["--no-sandbox", "--disable-gpu"])
        try:
            await one_run(browser, "105")  # warm-up
            for label, value, clicks in CASES:
                totals, steps = [], {}
                for _ in range(runs):
                    total, log = await one_run(browser, value)
                    totals.append(total)
                    for step, secs in log:
                        steps.setdefault(step, []).append(secs)
                    steps.setdefault("bridge and bookkeeping", []).append(total - sum(s for _, s in log))
                mandated = (1800 + 1000 + 300 + 500 * clicks) / 1000
                med = statistics.median(totals)
                print(f"\n{label} (id {value}, {clicks} load-more clicks), {runs} runs")
                print(f"  wall time median {med:.3f} s (min {min(totals):.3f}, max {max(totals):.3f})")
                print(f"  mandated pauses  {mandated:.3f} s   ratio {med / mandated:.2f}   excess {med - mandated:.3f} s")
                print("  median per step (s):")
                for step, vals in steps.items():
                    per_run = sum(vals) / runs  # steps that run twice (pauses) add up per run
                    print(f"    {step:<30} {statistics.median(vals):8.3f}  per run {per_run:8.3f}")
        finally:
            await browser.close()


if __name__ == "__main__":
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--runs", type=int, default=5)
    asyncio.run(main(ap.parse_args().runs))
