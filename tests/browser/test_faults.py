"""Faults in real Chromium: every call ends within a bounded time with the outcome its
fill promises (it returns, raises, or logs its line), never hangs and never takes the
interpreter down.

The page closed before or during a chosen page operation of every fill family and of the
whole form; the renderer crashed during a popup LOV search; a navigation in the middle of a
fill; a processing indicator that never clears; a load-more button that always loads more;
an expired APEX session whose ajax answers with a login page; and a whole-form fill
cancelled by ``asyncio.wait_for`` at random moments.

Each test bounds its own run with ``asyncio.wait_for`` so that a hang fails the test
instead of blocking the suite.
"""
import asyncio
import gc
import json
import os
import pathlib
import random

import pytest
from playwright.async_api import Error as PlaywrightError

from pagefaults import Faulty, at, at_condition, at_script
from ziveviver import vexocontrole as vc

DEMO_DIR = pathlib.Path(__file__).resolve().parents[2] / "src" / "ziveviver" / "demo"
LIMIT = 60  # seconds; far beyond any case here, so only a hang reaches it
PROF = "#P1_PROFISSAO"
FORM_URL = (DEMO_DIR / "form.html").as_uri()


def demo(name):
    return json.loads((DEMO_DIR / name).read_text(encoding="utf-8"))


# ------------------------------------------------------------------------------- helpers

class Lines:
    """Takes the module logger's place: keeps (level, message)."""

    def __init__(self):
        self.lines = []

    def _add(self, level, msg, **kw):
        self.lines.append((level, msg))

    def info(self, msg, **kw):
        self._add("info", msg)

    def warning(self, msg, **kw):
        self._add("warning", msg)

    def error(self, msg, **kw):
        self._add("error", msg)

    def debug(self, msg, **kw):
        self._add("debug", msg)

    def messages(self, level):
        return [m for lv, m in self.lines if lv == level]


@pytest.fixture
def log():
    """Debug on, lines recorded in memory; the module's state comes back afterwards.
    Controllers made by the fills themselves (the grids') keep the recording logger."""
    saved = vc.gDebugDev, vc.objfLog, vc.VexoFuncoes
    lines = Lines()

    class Factory:
        @staticmethod
        def fLog(**kw):
            return lines if kw.get("pDebugDev") else saved[1]

    vc.gDebugDev, vc.objfLog, vc.VexoFuncoes = True, lines, Factory
    yield lines
    vc.gDebugDev, vc.objfLog, vc.VexoFuncoes = saved


@pytest.fixture
def one_attempt():
    """The module's retry wrapper with a single attempt: for the cases whose every attempt
    is a long fixed-pause search, where three attempts would only triple the time."""
    saved = vc.fCtRetry

    def single(pFunction, *args, **kw):
        return saved(pFunction, 1)

    vc.fCtRetry = single
    yield
    vc.fCtRetry = saved


def coroutine_type():
    c = vc.fCtApexWaitStable(None)
    c.close()
    return type(c)


OUR_CORO = coroutine_type()


def suspended_coroutines():
    gc.collect()
    return [c for c in gc.get_objects() if type(c) is OUR_CORO and c.cr_suspended]


@pytest.fixture(autouse=True)
def nothing_left_suspended():
    """No coroutine of ours outlives a test suspended: every fault unwinds them all."""
    yield
    assert suspended_coroutines() == []


@pytest.fixture(scope="module")
def context(browser, loop):
    ctx = loop.run_until_complete(browser.new_context())
    yield ctx
    loop.run_until_complete(ctx.close())


@pytest.fixture
def new_page(context):
    """open_form's pages come from one context here (they open faster)."""
    return context.new_page


@pytest.fixture
def page(open_form):
    return open_form()


def bounded(run, coro, limit=LIMIT):
    """Runs `coro` to its end on the session loop, failing the test if it takes `limit`."""
    return run(asyncio.wait_for(coro, limit))


def outcome(run, coro, limit=LIMIT):
    """("returned", value) or ("raised", exception), within `limit` seconds."""
    try:
        return "returned", bounded(run, coro, limit)
    except asyncio.TimeoutError:
        raise AssertionError(f"still running after {limit} s")
    except Exception as e:  # noqa: BLE001 - which one is each test's to say
        return "raised", e


# --------------------------------------------------------------- the page closed mid-fill

# Keeps popups open (Escape and their close buttons do nothing): the adaptive pacing's close
# wait then lasts until its bound, so the fault comes while it is under way.
HOLD_OPEN = """() => {
  const stop = (e) => e.stopImmediatePropagation();
  document.addEventListener('keydown', (e) => { if (e.key === 'Escape') stop(e); }, true);
  document.addEventListener('click', (e) => {
    if (e.target.closest && e.target.closest('.ui-dialog-titlebar-close')) stop(e);
  }, true);
}"""

# (id, fill on the faulty page, where the page closes, whether while that operation is under way,
#  what the call does, the line that must be logged (level, prefix) or None)
CLOSE_CASES = [
    ("text, during the wait for an absent item", lambda p: vc.fCtPreencText(p, "#P1_AUSENTE", "X", 8000),
     at("wait_for_selector"), True, "returned", ("error", "fCtPreencText -> Falha ao preencher #P1_AUSENTE: ")),
    ("text, before the value is set", lambda p: vc.fCtPreencText(p, "#P1_NOME", "Ana"),
     at("evaluate"), False, "returned", ("error", "fCtPreencText -> Falha ao preencher #P1_NOME: ")),
    ("text area, before the count", lambda p: vc.fCtPreencTextArea(p, "#P1_OBS", "linha"),
     at("count"), False, "returned", ("error", "fCtPreencText -> Falha ao preencher #P1_OBS: ")),
    ("autocomplete, before the visible wait", lambda p: vc.fCtPreencAutoComplete(p, "#P1_CIDADE", "Porto"),
     at("wait_for"), False, "returned", ("error", "fCtPreencText -> Falha ao preencher #P1_CIDADE: ")),
    ("date, before the enabled check", lambda p: vc.fCtPreencDatepicker(p, "#P1_DATA_NASC", "10/05/1982"),
     at("is_enabled"), False, "returned",
     ("error", "fCtPreencDatepicker -> Falha ao preencher datepicker #P1_DATA_NASC: ")),
    ("select, during the browser's selection", lambda p: vc.fCtApexPreencDropDownList(p, "#P1_PAIS", "XX"),
     at("select_option"), True, "returned",
     ("error", "fCtApexPreencDropDownList -> Falha ao selecionar dropdown #P1_PAIS: ")),
    ("multi-select, before its script", lambda p: vc.fCtApexPreencMultiSelect(p, "#P1_IDIOMAS", ["PT"]),
     at("evaluate"), False, "raised", None),
    ("radio, before the option count", lambda p: vc.fCtPreencCheckRadio(p, "#P1_SEXO", "0"),
     at("count"), False, "raised", ("warning", "fCtRetry -> [RETRY 3/3] erro: ")),
    ("radio, before the label click", lambda p: vc.fCtPreencCheckRadio(p, "#P1_SEXO", "0"),
     at("click"), False, "returned", ("error", "fCtPreencCheckRadio -> Falha total radio #P1_SEXO_0: ")),
    ("check box, during the wait for an absent option",
     lambda p: vc.fCtPreencCheckMultiple(p, "#P1_CANAIS", "9", 8000),
     at("wait_for_selector"), True, "raised", ("warning", "fCtRetry -> [RETRY 3/3] erro: ")),
    ("LOV by description, before its script", lambda p: vc.fCtApexPreencPopupLovDesc(p, PROF, "Advogado"),
     at("evaluate"), False, "raised", ("warning", "fCtRetry -> [RETRY 3/3] erro: ")),
    ("LOV by id, during the search over pages", lambda p: vc.fCtApexPreencPopupLovId(p, PROF, "145"),
     at_script("MAX_SCANS"), True, "raised", ("warning", "fCtRetry -> [RETRY 3/3] erro: ")),
    ("LOV by id, during the wait for the popup to close", lambda p: vc.fCtApexPreencPopupLovId(p, PROF, "105"),
     {"literal": at("wait_for_selector"), "adaptativo": at_condition("lov_fechado")}, True, "raised",
     ("warning", "fCtRetry -> [RETRY 3/3] erro: ")),
    ("idle wait, during the wait for idle", lambda p: vc.fCtApexWaitStable(p, 8000),
     at("wait_for_function"), True, "raised", None),
    ("in-page notice, while it waits for the user", lambda p: vc.fCtPopUpHtml(p, "Pronto"),
     at("wait_for_selector"), True, "returned",
     ("error", "fCtPopUpHtml -> Erro ou navegador fechado durante modal: ")),
]


@pytest.mark.parametrize("fill, when, during, ends, line", [c[1:] for c in CLOSE_CASES],
                         ids=[c[0] for c in CLOSE_CASES])
def test_page_closed_mid_fill(page, run, log, ritmo, fill, when, during, ends, line):
    if isinstance(when, dict):  # the pacings wait on different operations there
        when = when[ritmo]
        if ritmo == "adaptativo":
            run(page.evaluate(HOLD_OPEN))
    if when("wait_for_function", ()):
        run(page.evaluate("__zv.busy(20000)"))  # a page that stays busy while it waits
    faulty = Faulty(page, when, page.close, during)
    kind, value = outcome(run, fill(faulty))
    assert faulty.fired, faulty.ops
    assert kind == ends, (value, faulty.ops)
    if kind == "returned":
        assert value is None
    else:
        assert page.is_closed() and "closed" in str(value).lower()
    if line:
        level, prefix = line
        assert [m for m in log.messages(level) if m.startswith(prefix)], log.lines


# --------------------------------------------------------- the page closed mid whole form

def test_page_closed_in_the_simple_fields_ends_the_form_at_the_radio(page, run, log):
    faulty = Faulty(page, at("evaluate"), page.close)  # before the first value is set
    ctl = vc.VexoControleApex(faulty, True)
    kind, value = outcome(run, ctl.fCtPreencTodoForm(demo("mapa.json"), demo("dados.json")))
    # the text and date fills swallow the closed page; the radio's attempts raise it
    assert kind == "raised" and "closed" in str(value).lower()
    errors = log.messages("error")
    assert [m.split(":")[0] for m in errors] == [
        "fCtPreencText -> Falha ao preencher #P1_NOME",
        "fCtPreencDatepicker -> Falha ao preencher datepicker #P1_DATA_NASC",
    ]
    retries = [m for m in log.messages("warning") if m.startswith("fCtRetry")]
    assert [m[:len("fCtRetry -> [RETRY 1/3]")] for m in retries] == [
        "fCtRetry -> [RETRY 1/3]", "fCtRetry -> [RETRY 2/3]", "fCtRetry -> [RETRY 3/3]"]
    visited = [m.split()[5].rstrip(",") for m in log.messages("debug")
               if m.startswith("VexoControleApex -> fCtPreencTodoForm -> dbCampo ")]
    assert visited == ["NOME_PROPONENTE", "DATA_NASCIMENTO", "SEXO"]  # nothing after the radio


def test_page_closed_in_a_grid_skips_every_row_and_returns(page, run, log):
    mapa, dados = demo("mapa.json"), demo("dados.json")
    mapping = {"NOME_PROPONENTE": mapa["NOME_PROPONENTE"], "Titulares": mapa["Titulares"]}
    data = {"NOME_PROPONENTE": "Ana", "RepAtivarPreenc": 0, "Titulares": dados["Titulares"][:2]}
    faulty = Faulty(page, at("click", "#TIT_ADD"), page.close)
    ctl = vc.VexoControleApex(faulty, True)
    assert outcome(run, ctl.fCtPreencTodoForm(mapping, data)) == ("returned", None)
    rows = [m for m in log.messages("error") if "Erro ao gravar Titular" in m]
    assert [m.split(":")[0] for m in rows] == [
        "VexoControleApex -> fPreencGridTitular -> Erro ao gravar Titular 1",
        "VexoControleApex -> fPreencGridTitular -> Erro ao gravar Titular 2",
    ]
    assert all("closed" in m.lower() for m in rows)


# ------------------------------------------------------------------- the renderer crashes

def test_renderer_crash_during_popup_lov_search(page, run, log):
    crashed = []
    page.on("crash", lambda p: crashed.append(p))

    async def crash():
        try:
            await page.goto("chrome://crash", timeout=5000)
        except PlaywrightError:
            pass  # the navigation itself is aborted by the crash

    faulty = Faulty(page, at_script("MAX_SCANS"), crash, during=True)
    kind, value = outcome(run, vc.fCtApexPreencPopupLovId(faulty, PROF, "145"))
    assert crashed and faulty.fired
    assert kind == "raised" and "crash" in str(value).lower()
    retries = [m for m in log.messages("warning") if m.startswith("fCtRetry")]
    assert len(retries) == 3 and all("crash" in m.lower() for m in retries)


# ---------------------------------------------------------------------------- navigation

def test_text_fill_follows_a_navigation_to_the_item_on_the_new_document(page, run, log):
    # On this document the late item never comes; on the next one it comes after a second.
    run(page.evaluate("""() => {
        document.getElementById('P1_TARDIO_TEMPLATE').content.replaceChildren();
        const item = document.getElementById('P1_TARDIO_CONTAINER');
        if (item) item.remove();
    }"""))

    async def reload():
        await page.goto(FORM_URL)

    faulty = Faulty(page, at("wait_for_selector"), reload, during=True)
    # the wait goes on across the reload and finds the item on the new document
    assert outcome(run, vc.fCtPreencText(faulty, "#P1_TARDIO", "depois")) == ("returned", None)
    assert faulty.fired
    assert run(page.evaluate("__zv.dom('P1_TARDIO')")) == "depois"
    assert log.messages("info") == ["fCtPreencText -> Campo preenchido: #P1_TARDIO"]


def test_navigation_during_popup_lov_search_is_retried_on_the_new_document(page, run, log):
    async def reload():
        await page.goto(FORM_URL)
        await page.wait_for_function("window.__zv && window.__zv.ready === true")

    faulty = Faulty(page, at_script("MAX_SCANS"), reload, during=True)
    assert outcome(run, vc.fCtApexPreencPopupLovId(faulty, PROF, "145")) == ("returned", None)
    retries = [m for m in log.messages("warning") if m.startswith("fCtRetry")]
    assert len(retries) == 1 and retries[0].startswith("fCtRetry -> [RETRY 1/3] erro: ")
    assert run(page.evaluate("[__zv.value('P1_PROFISSAO'), __zv.display('P1_PROFISSAO')]")) == [
        "145", "Militar"]


# ------------------------------------------------------------ busy indicator, endless LOV

def test_processing_indicator_that_never_clears_ends_the_idle_wait_at_its_limit(page, run, log):
    run(page.evaluate("__zv.busy(600000)"))
    loop = asyncio.get_event_loop()
    t0 = loop.time()
    assert outcome(run, vc.fCtApexWaitStable(page, 1000)) == ("returned", None)
    assert loop.time() - t0 >= 1.25  # its limit and the pause (timers never end early)
    # it gave up: the indicator of the next ten minutes is still there
    assert run(page.evaluate("document.querySelectorAll('.u-Processing').length")) == 1
    assert log.lines == []


def test_load_more_that_always_loads_more_ends_after_fifteen_scans(page, run, log, one_attempt):
    run(page.evaluate("__zv.lovEndless = true; __zv.lovPageMs = 50"))
    kind, value = outcome(run, vc.fCtApexPreencPopupLovId(page, PROF, "999"))
    assert kind == "raised"
    assert str(value) == 'Item com data-id="999" nao encontrado'
    # fifteen scans: the first page and fourteen more, the fifteenth click's page unscanned
    rows = run(page.evaluate("document.querySelectorAll('#PopupLov_1_P1_PROFISSAO_dlg .a-IconList-item').length"))
    assert 15 * 20 <= rows <= 16 * 20, rows
    assert run(page.evaluate("__zv.value('P1_PROFISSAO')")) == ""


# ------------------------------------------------------------------ an expired session

def test_expired_session_ends_the_form_at_the_popup_lov(page, run, log):
    mapa, dados = demo("mapa.json"), demo("dados.json")
    cols = ["NOME_PROPONENTE", "PAIS", "ESTADO", "PROFISSAO", "OBSERVACOES"]
    run(page.evaluate("__zv.expireSession()"))
    ctl = vc.VexoControleApex(page, True)
    kind, value = outcome(run, ctl.fCtPreencTodoForm({c: mapa[c] for c in cols}, dados))
    assert kind == "raised"
    assert str(value) == 'Item com data-id="101" nao encontrado'
    state = run(page.evaluate(
        "[__zv.value('P1_NOME'), __zv.value('P1_PAIS'), __zv.value('P1_ESTADO'), __zv.value('P1_PROFISSAO'),"
        " __zv.value('P1_OBS'), !!document.getElementById('SESSION_ENDED'), __zv.sessionAnswers > 0]"))
    # what needs no server landed; the cascade brought no states; nothing after the LOV ran
    assert state == [dados["NOME_PROPONENTE"], "BR", "", "", "", True, True]
    # APEX was asked for the state the empty list does not carry, and said so when read back
    assert ("fCtApexPreencDropDownList -> Valor nao aplicado (APEX): #P1_ESTADO | valor: " + dados["ESTADO"]
            in log.messages("error"))


# ------------------------------------------------------------------------- cancellation

def short_form():
    """A form that passes through every kind of step: text, radio, select list, popup LOV
    (its popup, pauses and idle wait), a check box, and one grid row with its buttons and
    pauses."""
    mapa, dados = demo("mapa.json"), demo("dados.json")
    cols = ["NOME_PROPONENTE", "SEXO", "PAIS", "PROFISSAO", "CANAL_CONTATO"]
    tit = mapa["Titulares"]
    mapping = {c: mapa[c] for c in cols}
    mapping["Titulares"] = {k: tit[k] for k in ("TitInserir", "TIT_NOME", "TIT_VINCULO", "TitGravar")}
    data = {c: dados[c] for c in cols}
    data.update(RepAtivarPreenc=0, Titulares=dados["Titulares"][:1])
    return mapping, data


async def settled(page):
    """Waits until every request sent on `page`'s connection has had its answer (those of
    cancelled calls too) and the loop has run every callback that was ready."""
    connection = page._impl_obj._connection
    while connection._callbacks:
        await asyncio.sleep(0.01)
    loop = asyncio.get_running_loop()
    while loop._ready:  # what is queued besides this task
        await asyncio.sleep(0)


def test_whole_form_cancelled_by_wait_for_at_random_moments(open_form, run, loop, log, ritmo):
    seed = int(os.environ.get("ZV_FAULT_SEED") or random.randrange(1 << 32))
    rng = random.Random(seed)
    # The moments are drawn within the length of the same fill, measured here on this machine
    # and with this pacing, so that they fall across the fill however fast it runs. A cancelled
    # fill runs beside three others, more slowly than the one measured; one that still ends
    # before its moment must have filled the whole form.
    reference = open_form()
    t0 = loop.time()
    assert bounded(run, vc.VexoControleApex(reference, True).fCtPreencTodoForm(*short_form())) is None
    length = loop.time() - t0
    assert run(reference.evaluate("__zv.saved.titulares.length")) == 1
    moments = sorted(rng.uniform(0.0, length) for _ in range(4))
    why = f"{ritmo}, seed {seed}, fill of {length:.2f} s, moments {[round(m, 2) for m in moments]}"
    pages = [open_form() for _ in moments]
    handled = []
    saved_handler = loop.get_exception_handler()
    loop.set_exception_handler(lambda lp, context: handled.append(context))
    try:
        async def cancel_one(page, moment):
            mapping, data = short_form()
            task = asyncio.ensure_future(vc.VexoControleApex(page, True).fCtPreencTodoForm(mapping, data))
            try:
                await asyncio.wait_for(task, moment)
                return task, "finished"
            except asyncio.TimeoutError:
                return task, "timed out"

        async def all_of_them():
            return await asyncio.gather(*(cancel_one(p, m) for p, m in zip(pages, moments)))

        ends = bounded(run, all_of_them())
        for (task, how), moment, page in zip(ends, moments, pages):
            assert task.done(), why
            if how == "finished":
                assert not task.cancelled() and task.result() is None, (why, moment, task)
                assert run(page.evaluate("__zv.saved.titulares.length")) == 1, (why, moment)
            else:
                assert task.cancelled(), (why, moment, how, task)
        assert suspended_coroutines() == [], why

        # every page can still be used: a text fill lands on each
        for i, page in enumerate(pages):
            assert bounded(run, vc.fCtPreencText(page, "#P1_OBS", f"depois {i}")) is None
            assert run(page.evaluate("__zv.value('P1_OBS')")) == f"depois {i}", why

        gc.collect()
        bounded(run, settled(pages[0]))
        gc.collect()
        assert handled == [], (why, handled)
    finally:
        loop.set_exception_handler(saved_handler)
