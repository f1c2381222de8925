"""A tab behind the one in front fills as fast as it once it is kept drawn, in a Chromium
started as a user starts it (no Playwright flags) and attached over its debugging port,
headless and headed (on a virtual X display)."""
import asyncio
import json
import os
import pathlib
import shutil
import signal
import subprocess
import time

import pytest

from ziveviver.executor.background_tabs import keep_drawn

CHROMIUM = os.environ.get("ZV_CHROMIUM", "/usr/bin/chromium")
DEMO = pathlib.Path(__file__).resolve().parents[2] / "src" / "ziveviver" / "demo"
FORM_URL = (DEMO / "form.html").as_uri()
GUARD = 60  # seconds; a guard against a hang, not a measurement


def demo_inputs():
    return (json.loads((DEMO / "mapa.json").read_text(encoding="utf-8")),
            json.loads((DEMO / "dados.json").read_text(encoding="utf-8")))


@pytest.fixture(params=["headless", "headed"])
def users_browser(request, tmp_path, loop, run):
    """A Chromium started by hand with a debugging port (headed under xvfb-run), attached."""
    from playwright.async_api import async_playwright

    profile = tmp_path / "perfil"
    cmd = [CHROMIUM, "--no-sandbox", "--no-first-run", "--disable-gpu", "--remote-debugging-port=0",
           f"--user-data-dir={profile}", "about:blank"]
    if request.param == "headless":
        cmd.insert(1, "--headless")
    elif shutil.which("xvfb-run") is None:
        pytest.skip("xvfb-run is not installed")
    else:
        cmd = ["xvfb-run", "-a", "-s", "-screen 0 1280x900x24"] + cmd
    proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
    pw = run(async_playwright().start())
    try:
        port_file, deadline = profile / "DevToolsActivePort", time.monotonic() + GUARD
        while not (port_file.exists() and port_file.read_text().strip()):
            assert proc.poll() is None and time.monotonic() < deadline, "Chromium did not start"
            time.sleep(0.1)
        browser = run(pw.chromium.connect_over_cdp(f"http://127.0.0.1:{port_file.read_text().split()[0]}"))
        yield browser.contexts[0]
        run(browser.close())
    finally:
        run(pw.stop())
        os.killpg(proc.pid, signal.SIGTERM)
        proc.wait(GUARD)


async def fill_timed(page, mapping, data):
    from ziveviver.vexoconferencia import fCtConferirForm
    from ziveviver.vexocontrole import VexoControleApex

    started = time.monotonic()
    await VexoControleApex(page).fCtPreencTodoForm(json.loads(json.dumps(mapping)), data)
    took = time.monotonic() - started
    rows = await fCtConferirForm(page, mapping, data)
    return took, [r["estado"] for r in rows if r["estado"] not in ("vazio", "igual")]


def test_two_gathered_fills_in_two_tabs_of_one_window_take_as_long(users_browser, run, quiet):
    from ziveviver import ritmo

    context = users_browser
    mapping, data = demo_inputs()

    async def both():
        pages = [await context.new_page() for _ in range(2)]
        for page in pages:
            await page.goto(FORM_URL)
            await page.wait_for_function("window.__zv && window.__zv.ready === true")
        front, behind = pages
        await front.bring_to_front()
        assert await keep_drawn(behind)
        with ritmo.definir(ritmo.ADAPTATIVO):
            return await asyncio.wait_for(asyncio.gather(fill_timed(front, *demo_inputs()),
                                                         fill_timed(behind, mapping, data)), 10 * GUARD)

    (t_front, wrong_front), (t_behind, wrong_behind) = run(both())
    assert wrong_front == wrong_behind == []  # every field landed in both
    assert t_behind <= 1.5 * t_front, (t_front, t_behind)
