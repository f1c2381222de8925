"""The whole form in real Chromium on the stand-in page: the bundled demo mapping and data
end to end (every item read back through the page; on the page, its main frame, and the form
as a modal dialog page), a grid row that cannot start (its
add button never enabled) skipped while the next record is saved, and a failing grid cell
that ends the run with exit status 1."""
import json
import os
import pathlib
import subprocess
import sys
import textwrap

import pytest
from playwright.async_api import TimeoutError as PlaywrightTimeout

from ziveviver import vexocontrole as vc

# Every test runs under both pacings (the "ritmo" fixture).
pytestmark = pytest.mark.usefixtures("ritmo")

DEMO_DIR = pathlib.Path(__file__).resolve().parents[2] / "src" / "ziveviver" / "demo"
FORM_URL = (DEMO_DIR / "form.html").as_uri()
CHROMIUM = os.environ.get("ZV_CHROMIUM", "/usr/bin/chromium")


def demo(name):
    return json.loads((DEMO_DIR / name).read_text(encoding="utf-8"))


@pytest.fixture
def mapa():
    return demo("mapa.json")


@pytest.fixture
def dados():
    return demo("dados.json")


def js(run, page, expr, arg=None):
    return run(page.evaluate(expr, arg))


# The main frame differs from its page in what the fills are handed (a Frame), not in the
# pauses, so it runs under one pacing.
@pytest.mark.parametrize("ritmo, alvo", [
    ("literal", "pagina"), ("literal", "dialogo"),
    ("adaptativo", "pagina"), ("adaptativo", "quadro_principal"), ("adaptativo", "dialogo"),
], indirect=True)
def test_demo_form_end_to_end(alvo, run, mapa, dados):
    ctl = vc.VexoControleApex(alvo)
    assert run(ctl.fCtPreencTodoForm(mapa, dados)) is None

    state = js(run, alvo, "window.__zv.state()")
    shown = js(run, alvo, "(ids) => ids.map((id) => window.__zv.display(id))",
               ["P1_SEXO", "P1_CANAIS", "P1_PROFISSAO", "P1_ESTADO", "P1_REP_TIPO", "P1_REP_PROF"])
    rep = dados["Representantes"]
    expected = {
        "P1_NOME": dados["NOME_PROPONENTE"],
        "P1_DATA_NASC": dados["DATA_NASCIMENTO"],
        "P1_SEXO": "M",  # option 0
        "P1_CIDADE": dados["CIDADE"],
        "P1_PAIS": dados["PAIS"],
        "P1_ESTADO": dados["ESTADO"],  # listed only once the country's cascade came back
        "P1_PROFISSAO": dados["PROFISSAO"],
        "P1_AGENCIA": dados["AGENCIA"],  # grid display, a row of its third page
        "P1_OBS": dados["OBSERVACOES"],
        "P1_CANAIS": ["EMAIL", "SMS"],  # option 1 ticked beside the page's default
        "P1_IDIOMAS": dados["IDIOMAS"],
        "P1_DATA_ADESAO": dados["DATA_ADESAO"],
        "P1_REP_NOME": rep["REP_NOME"],
        "P1_REP_CPF": rep["REP_CPF"],
        "P1_REP_NASC": rep["REP_DATA_NASCIMENTO"],
        "P1_REP_TIPO": rep["REP_TIPO"],
        "P1_REP_PROF": rep["REP_PROFISSAO"],
    }
    assert {k: state[k] for k in expected} == expected
    assert shown == ["Masculino", ["E-mail", "SMS"], "Engenheiro", "Minas Gerais", "Procurador", "Advogado"]

    saved = js(run, alvo, "window.__zv.saved")
    vinculo = {"0": ["EMP"], "1": ["SOC"], "2": ["DEP"]}
    assert saved["titulares"] == [
        {"P2_TIT_NOME": t["TIT_NOME"], "P2_TIT_NASC": t["TIT_DATA_NASCIMENTO"], "P2_TIT_TIPO": t["TIT_TIPO"],
         "P2_TIT_VINCULO": vinculo[t["TIT_VINCULO"]], "P2_TIT_PROF": t.get("TIT_PROFISSAO", "")}
        for t in dados["Titulares"]
    ]
    assert saved["beneficiarios"] == [
        {"P3_BEN_NOME": b["BEN_NOME"], "P3_BEN_PARENTESCO": b["BEN_PARENTESCO"],
         "P3_BEN_PERC": b["BEN_PERCENTUAL"], "P3_BEN_NASC": b["BEN_DATA_NASCIMENTO"]}
        for b in dados["Beneficiarios"]
    ]
    # the grid rows the user sees, and the editors closed after the last save
    rows = js(run, alvo, "['TIT_ROWS', 'BEN_ROWS'].map((id) => document.getElementById(id).rows.length)")
    editors = js(run, alvo, "['TIT_EDITOR', 'BEN_EDITOR'].map((id) => document.getElementById(id).hidden)")
    assert rows == [3, 2] and editors == [True, True]

    # the simple fields and the representative's items carry their column names now
    for section in (mapa, mapa["Representantes"]):
        for col, cfg in section.items():
            if col not in ("Representantes", "Titulares", "Beneficiarios"):
                assert cfg["ColNome"] == col
    assert all("ColNome" not in cfg for cfg in mapa["Titulares"].values())


class ShortWaits:
    """The real page, with selector waits cut to `limit` ms; after the first wait that
    times out it calls `on_timeout` (then lets the timeout go on to the caller)."""

    def __init__(self, page, limit, on_timeout):
        self._page, self._limit, self._on_timeout = page, limit, on_timeout
        self.timeouts = []

    def __getattr__(self, name):
        return getattr(self._page, name)

    async def wait_for_selector(self, selector, **kw):
        kw["timeout"] = min(kw.get("timeout", 30000), self._limit)
        try:
            return await self._page.wait_for_selector(selector, **kw)
        except PlaywrightTimeout:
            self.timeouts.append(selector)
            if len(self.timeouts) == 1:
                await self._on_timeout()
            raise


def test_row_whose_add_button_never_enables_is_skipped_and_the_next_saved(form, run, mapa, dados):
    js(run, form, "window.__zv.blockAdd('BEN', true)")

    async def unblock():
        await form.evaluate("window.__zv.blockAdd('BEN', false)")

    page = ShortWaits(form, 1000, unblock)
    ctl = vc.VexoControleApex(page)
    first, second = dados["Beneficiarios"]
    assert run(ctl.fPreencGridBeneficiario(mapa["Beneficiarios"], [first, second])) is None
    assert page.timeouts == ["#BEN_ADD:not([disabled])"]
    saved = js(run, form, "window.__zv.saved.beneficiarios")
    assert [row["P3_BEN_NOME"] for row in saved] == [second["BEN_NOME"]]
    # nothing of the first record reached the page
    names = js(run, form, "window.__zv.calls.filter((c) => c.item === 'P3_BEN_NOME').map((c) => c.args[0])")
    assert first["BEN_NOME"] not in names


EXITING_SCRIPT = textwrap.dedent("""
    import asyncio, json, sys
    from playwright.async_api import async_playwright
    from ziveviver import ritmo, vexocontrole

    async def main(chromium, url, section, records, pacing="literal", debug=False):
        async with async_playwright() as pw:
            browser = await pw.chromium.launch(executable_path=chromium, args=["--no-sandbox", "--disable-gpu"])
            page = await browser.new_page()
            await page.goto(url)
            await page.wait_for_function("window.__zv && window.__zv.ready === true")
            ctl = vexocontrole.VexoControleApex(page, debug)
            if debug:  # the debug lines, also in a file of the working folder
                import logging
                vexocontrole.objfLog.addHandler(logging.FileHandler("debug.log", encoding="utf-8"))
            try:
                with ritmo.definir(pacing):
                    await ctl.fCtPreencTodoForm({"Titulares": section}, {"RepAtivarPreenc": 0, "Titulares": records})
                print("fill returned")
            finally:
                print(json.dumps(await page.evaluate("[window.__zv.state(), window.__zv.saved]")))
                await browser.close()

    asyncio.run(main(*json.loads(sys.argv[1])))
""")


def test_failing_cell_ends_the_process_with_exit_status_1(mapa, dados, ritmo):
    first, second = dados["Titulares"][:2]
    first["TIT_VINCULO"] = "1)"  # no such option: the check box fill gives up and raises
    arg = json.dumps([CHROMIUM, FORM_URL, mapa["Titulares"], [first, second], ritmo])
    done = subprocess.run([sys.executable, "-c", EXITING_SCRIPT, arg], capture_output=True, text=True,
                          timeout=120)
    assert done.returncode == 1, done.stderr
    assert "Traceback" not in done.stderr
    out = done.stdout.splitlines()
    assert "fill returned" not in out
    state, saved = json.loads(out[-1])
    # the cells before the failing one landed; the row was never saved; nothing after it ran
    assert (state["P2_TIT_NOME"], state["P2_TIT_NASC"], state["P2_TIT_TIPO"]) == (
        first["TIT_NOME"], first["TIT_DATA_NASCIMENTO"], first["TIT_TIPO"])
    assert state["P2_TIT_PROF"] == ""
    assert saved["titulares"] == []


def test_failing_cell_is_named_in_the_logged_traceback(mapa, dados, tmp_path, ritmo):
    first = dados["Titulares"][0]
    first["TIT_PROFISSAO"] = "987654"  # no row of the popup LOV has this id
    arg = json.dumps([CHROMIUM, FORM_URL, mapa["Titulares"], [first], ritmo, True])
    done = subprocess.run([sys.executable, "-c", EXITING_SCRIPT, arg], capture_output=True, text=True,
                          timeout=120, cwd=tmp_path)
    assert done.returncode == 1, done.stderr
    log = (tmp_path / "debug.log").read_text(encoding="utf-8")
    head = "VexoControleApex -> fPreencGridTitular -> Erro no preenchimento do campo Titular TIT_PROFISSAO: "
    assert head in log
    # the grid's line: the error, then its traceback through the C++ coroutines down to the raise
    tb = log[log.index(head):].split("Traceback (most recent call last):\n", 1)[1]
    frames = [line.rpartition(", in ")[2] for line in tb.splitlines() if line.startswith('  File "')]
    assert frames[:5] == ["fPreencGridTitular", "fCtApexPreencPopupLovId", "fCtApexPreencPopupLovId",
                          "fCtRetry", "action"]
    assert '  File "native/vexocontrole/fills/lov_id.cpp", line ' in tb
