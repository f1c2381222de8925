"""The never-submit guard in real Chromium on the stand-in page: submissions planted during a
fill (a dynamic action that submits, the submit button, an ajax page submit) are held back and
reported while the ajax a dynamic action makes passes; once the guard is lifted the user's
submit goes through."""
import json
import pathlib

import pytest

from ziveviver import vexoconferencia as cf
from ziveviver import vexocontrole as vc

DEMO_DIR = pathlib.Path(__file__).resolve().parents[2] / "src" / "ziveviver" / "demo"
FORM_URL = (DEMO_DIR / "form.html").as_uri()
SENT_URL = (DEMO_DIR / "enviado.html").as_uri()
ACCEPT_URL = (DEMO_DIR / "wwv_flow.accept").as_uri()
SERVER_ANSWER = {"item": [], "ok": True}

MAPA = {
    "NOME": {"WebSel": "#P1_NOME", "ColTipo": "text"},
    "CIDADE": {"WebSel": "#P1_CIDADE", "ColTipo": "autocomplete"},
    "PAIS": {"WebSel": "#P1_PAIS", "ColTipo": "dropdownlist"},
}
DADOS = {"NOME": "Ana Lima", "CIDADE": "Porto", "PAIS": "PT", "RepAtivarPreenc": 0}


@pytest.fixture
def served_form(browser, run):
    """The stand-in page with an APEX "server" answering wwv_flow.ajax. The route is made
    before the page loads: Chromium lets file:// subrequests be routed only then (over http(s)
    a route made later works as well)."""
    page = run(browser.new_page())
    seen = []

    async def server(route, request):
        seen.append(request.post_data_json)
        await route.fulfill(status=200, body=json.dumps(SERVER_ANSWER), content_type="application/json",
                            headers={"Access-Control-Allow-Origin": "*"})

    run(page.route("**/wwv_flow.ajax*", server))
    run(page.goto(FORM_URL))
    run(page.wait_for_function("window.__zv && window.__zv.ready === true"))
    page.server_seen = seen
    yield page
    if not page.is_closed():
        run(page.close())


def test_submissions_planted_during_a_fill_are_held_and_ajax_passes(served_form, run):
    page = served_form
    vc.VexoControleApex(page)
    # a change of P1_NOME runs a "Submit Page" dynamic action; one of P1_CIDADE an ajax call
    run(page.evaluate("__zv.submitOn = 'P1_NOME'; __zv.ajaxOn = 'P1_CIDADE'"))

    async def fill():
        held = await cf.fCtAtivarGuarda(page)
        await vc.VexoControleApex(page).fCtPreencTodoForm(json.loads(json.dumps(MAPA)), dict(DADOS))
        await page.click("#SUBMETER")  # the page's own submit button
        await page.evaluate("__zv.submitAjax = true; apex.submit({request: 'SALVAR'})")
        await page.wait_for_function("__zv.submits.length === 3 && __zv.submits[2].result !== null")
        await page.wait_for_function("__zv.ajaxResults.length === 1")
        return held, await cf.fCtDesativarGuarda(page)

    held, lifted = run(fill())
    assert lifted is held
    assert held == [
        {"url": SENT_URL, "metodo": "POST", "navegacao": True, "pedido": "P1_NOME"},
        {"url": SENT_URL, "metodo": "POST", "navegacao": True, "pedido": "SUBMIT"},
        {"url": ACCEPT_URL, "metodo": "POST", "navegacao": False, "pedido": "SALVAR"},
    ]
    # the page stayed, with what the fill put in it
    assert page.url == FORM_URL
    assert run(page.evaluate("['P1_NOME', 'P1_CIDADE', 'P1_PAIS'].map((id) => __zv.value(id))")) == ["Ana Lima", "Porto", "PT"]
    submits = run(page.evaluate("__zv.submits"))
    assert [s["request"] for s in submits] == ["P1_NOME", "SUBMIT", "SALVAR"]
    assert submits[2]["result"].startswith("erro")  # the ajax submit was aborted
    # the dynamic action's ajax reached the server and came back
    assert run(page.evaluate("__zv.ajaxResults")) == [
        {"name": "P1_CIDADE", "ok": True, "text": json.dumps(SERVER_ANSWER)}]
    assert page.server_seen == [{"p_request": "APPLICATION_PROCESS=P1_CIDADE", "p_flow_id": "100",
                                 "p_flow_step_id": "1"}]


def test_once_lifted_the_users_submit_goes_through(served_form, run):
    page = served_form
    vc.VexoControleApex(page)

    async def go():
        await cf.fCtAtivarGuarda(page)
        await page.fill("#P1_NOME", "Ana Lima")
        await page.click("#SUBMETER")
        await page.wait_for_function("__zv.submits.length === 1")
        held = await cf.fCtDesativarGuarda(page)
        assert page.url == FORM_URL
        async with page.expect_navigation(url=SENT_URL):
            await page.click("#SUBMETER")
        return held

    held = run(go())
    assert [h["pedido"] for h in held] == ["SUBMIT"]
    assert run(page.text_content("#ZV_ENVIADO")) == "Pedido submetido"


def test_the_guard_logs_what_it_held_through_the_controllers_logger(served_form, run):
    from ziveviver import vexofuncoes

    page = served_form
    vc.VexoControleApex(page, True)

    async def go():
        await cf.fCtAtivarGuarda(page)
        await page.evaluate("apex.submit('SUBMIT')")
        await page.wait_for_function("__zv.submits.length === 1")
        return await cf.fCtDesativarGuarda(page)

    try:
        held = run(go())
    finally:
        vc.VexoControleApex(page, False)
    assert len(held) == 1
    log = pathlib.Path(vexofuncoes.__file__).parent / "Logs" / "MorvelPy_Dev.log"
    text = log.read_text(encoding="utf-8")
    assert "[INFO] fCtAtivarGuarda -> Guarda ativada: pedidos de submissao serao retidos" in text
    assert f"[WARNING] fCtAtivarGuarda -> Submissao retida: POST {SENT_URL} | p_request=SUBMIT" in text
    assert "[INFO] fCtDesativarGuarda -> Guarda desativada: 1 pedido(s) de submissao retido(s)" in text
