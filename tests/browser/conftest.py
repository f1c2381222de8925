"""Real Chromium for the browser tests: one browser for the session, one fresh page per test.

Tests are plain functions that drive coroutines through ``run(...)`` on the session's event
loop, so Playwright's objects (bound to the loop that made them) can be shared between tests.
"""
import asyncio
import os
import pathlib

import pytest

CHROMIUM = os.environ.get("ZV_CHROMIUM", "/usr/bin/chromium")
CHROMIUM_ARGS = [
    "--no-sandbox",
    "--disable-gpu",
    "--disable-background-networking",
    "--disable-component-update",
    "--no-first-run",
]
DEMO_DIR = pathlib.Path(__file__).resolve().parents[2] / "src" / "ziveviver" / "demo"
FORM_URL = (DEMO_DIR / "form.html").as_uri()


@pytest.fixture(scope="session")
def loop():
    lp = asyncio.new_event_loop()
    yield lp
    lp.close()


@pytest.fixture(scope="session")
def browser(loop):
    from playwright.async_api import async_playwright

    pw = loop.run_until_complete(async_playwright().start())
    br = loop.run_until_complete(
        pw.chromium.launch(executable_path=CHROMIUM, args=CHROMIUM_ARGS)
    )
    yield br
    loop.run_until_complete(br.close())
    loop.run_until_complete(pw.stop())


@pytest.fixture
def run(loop):
    """Runs one coroutine to its end on the session's loop."""
    # asyncio.run elsewhere in the session leaves no current loop; Playwright's synchronous
    # calls (page.on and the like) look for one.
    asyncio.set_event_loop(loop)
    return loop.run_until_complete


@pytest.fixture
def new_page(browser):
    """What makes the fresh pages open_form uses (a test module may give pages of one context)."""
    return browser.new_page


@pytest.fixture
def open_url(new_page, run):
    """Opens a stand-in page (its address, optionally with a query string) in a fresh page
    and returns it once `ready` holds; the pages are closed after the test."""
    pages = []

    def _open(url, query="", ready="window.__zv && window.__zv.ready === true"):
        pg = run(new_page())
        pages.append(pg)
        run(pg.goto(url + (("?" + query) if query else "")))
        run(pg.wait_for_function(ready))
        return pg

    yield _open
    for pg in pages:
        if not pg.is_closed():
            run(pg.close())


@pytest.fixture
def open_form(open_url):
    """Opens the stand-in form (optionally with a query string) in a fresh page."""
    return lambda query="": open_url(FORM_URL, query)


@pytest.fixture
def form(open_form):
    return open_form()


@pytest.fixture
def dialog_form(new_page, run):
    """The stand-in form opened as a modal dialog page (tests/browser/dialog_pages.py): the
    dialog page's Frame."""
    from dialog_pages import open_form_in_dialog

    pg = run(new_page())
    yield run(open_form_in_dialog(pg))
    run(pg.close())


@pytest.fixture(params=["pagina", "quadro_principal", "dialogo"])
def alvo(request):
    """What the fills are handed: the stand-in form's page, its main frame (a Frame: no
    keyboard of its own), or the same form as a modal dialog page (its Frame, the popup LOV
    dialogs in the top document)."""
    if request.param == "dialogo":
        return request.getfixturevalue("dialog_form")
    page = request.getfixturevalue("form")
    return page if request.param == "pagina" else page.main_frame


@pytest.fixture
def quiet():
    """Module logging off for the test; the module's state comes back afterwards."""
    from ziveviver import vexocontrole as vc

    saved = vc.gDebugDev, vc.objfLog
    vc.gDebugDev = False
    yield
    vc.gDebugDev, vc.objfLog = saved


@pytest.fixture
def log():
    """Debug on with a recording logger (tests/fakepage.py); the module state comes back
    afterwards. A module may define its own."""
    import sys

    sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1]))
    from fakepage import RecordingLogger
    from ziveviver import vexocontrole as vc

    saved = vc.gDebugDev, vc.objfLog
    lg = RecordingLogger()
    vc.gDebugDev, vc.objfLog = True, lg
    yield lg
    vc.gDebugDev, vc.objfLog = saved


@pytest.fixture(params=["literal", "adaptativo"])
def ritmo(request):
    """The pacing the test's fills run under (ziveviver.ritmo): a test or module that uses this
    fixture runs under both. The fills are started inside the pacing's block, so the tasks
    `run` makes copy it."""
    from ziveviver import ritmo as pacing

    with pacing.definir(request.param):
        yield request.param


@pytest.fixture
def log():
    """Debug on, lines kept in memory (the grids' nested controllers too)."""
    import sys

    sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1]))
    from fakepage import RecordingLogger
    from ziveviver import vexocontrole as vc

    saved = vc.gDebugDev, vc.objfLog, vc.VexoFuncoes
    lines = RecordingLogger()

    class Factory:
        @staticmethod
        def fLog(**kw):
            return lines

    vc.gDebugDev, vc.objfLog, vc.VexoFuncoes = True, lines, Factory
    yield lines
    vc.gDebugDev, vc.objfLog, vc.VexoFuncoes = saved
