"""The pre-flight check in real Chromium on the stand-in page: the bundled mapping and data check
clean and leave the page untouched; each planted mistake is found on its own field."""
import copy
import json
import os
import pathlib
import subprocess
import sys

import pytest

from ziveviver import vexoconferencia as cf

DEMO_DIR = pathlib.Path(__file__).resolve().parents[2] / "src" / "ziveviver" / "demo"


def demo(name):
    return json.loads((DEMO_DIR / name).read_text(encoding="utf-8"))


@pytest.fixture(scope="module")
def shared_form(browser, loop):
    """One stand-in page for the checks that only read it (the check changes nothing)."""
    page = loop.run_until_complete(browser.new_page())
    loop.run_until_complete(page.goto((DEMO_DIR / "form.html").as_uri()))
    loop.run_until_complete(page.wait_for_function("window.__zv && window.__zv.ready === true"))
    yield page
    loop.run_until_complete(page.close())


def by_column(findings):
    return {(f["secao"], f["coluna"]): f for f in findings}


# The one finding the bundled files give that is not "ok": the older date picker keeps its
# format in its widget's settings, not in the page's markup.
LEGACY_PICKER = ("Formulario", "DATA_ADESAO")


def test_the_bundled_mapping_checks_clean_and_touches_nothing(form, run):
    mapa, dados = demo("mapa.json"), demo("dados.json")
    mapa0, dados0 = copy.deepcopy(mapa), copy.deepcopy(dados)
    run(form.wait_for_selector("#P1_TARDIO", state="attached"))  # the item the page adds late
    before = run(form.evaluate("window.__zv.state()"))
    findings = run(cf.fCtVerificarMapa(form, mapa, dados))

    verdicts = {k: f["veredito"] for k, f in by_column(findings).items()}
    assert verdicts.pop(LEGACY_PICKER) == "aviso"
    assert set(verdicts.values()) == {"ok"}, findings
    # every mapped column, both grid buttons and the representatives flag have a finding
    assert len(findings) == 35
    assert mapa == mapa0 and dados == dados0
    assert run(form.evaluate("window.__zv.state()")) == before
    assert run(form.evaluate("[__zv.calls.length, __zv.events.length, __zv.da.length]")) == [0, 0, 0]


def test_without_apex_the_check_reads_the_markup_alone(open_form, run):
    page = open_form("noapex=1")
    findings = run(cf.fCtVerificarMapa(page, demo("mapa.json"), demo("dados.json")))
    assert {f["veredito"] for k, f in by_column(findings).items() if k != LEGACY_PICKER} == {"ok"}


def _field(col, **cfg):
    def change(m, d):
        m[col].update(cfg)
    return change


def _value(col, v):
    def change(m, d):
        d[col] = v
    return change


def _grid(col, **cfg):
    def change(m, d):
        m["Titulares"][col].update(cfg)
    return change


MISTAKES = [
    ("selector of no element", _field("NOME_PROPONENTE", WebSel="#P1_NOMEX"), ("Formulario", "NOME_PROPONENTE"),
     "erro", "nenhum elemento encontrado"),
    ("selector the browser cannot parse", _field("NOME_PROPONENTE", WebSel="#P1_NOME[["),
     ("Formulario", "NOME_PROPONENTE"), "erro", "seletor inválido"),
    ("selector of many elements", _field("NOME_PROPONENTE", WebSel="input.text_field"),
     ("Formulario", "NOME_PROPONENTE"), "erro", "elementos encontrados com este seletor"),
    ("text on a select list", _field("CIDADE", WebSel="#P1_PAIS"), ("Formulario", "CIDADE"), "erro",
     "é uma lista de seleção"),
    ("text on a server read-only item", _field("CIDADE", WebSel="#P1_SERVIDOR_RO"), ("Formulario", "CIDADE"),
     "erro", "input oculto"),
    ("text on a disabled item", _field("CIDADE", WebSel="#P1_DESATIVADO"), ("Formulario", "CIDADE"), "aviso",
     "desabilitado agora"),
    ("text on a field APEX does not know", _field("CIDADE", WebSel="#P1_SEMAPEX"), ("Formulario", "CIDADE"),
     "aviso", "o APEX não conhece este item"),
    ("radio position out of range", _value("SEXO", "7"), ("Formulario", "SEXO"), "erro",
     "posição \"7\" fora das opções (as opções vão de 0 a 3)"),
    ("radio position of a disabled option", _value("SEXO", "3"), ("Formulario", "SEXO"), "aviso",
     "a opção \"3\" está desabilitada"),
    ("check box on a radio group", _field("CANAL_CONTATO", WebSel="#P1_SEXO"), ("Formulario", "CANAL_CONTATO"),
     "aviso", "não são do tipo checkbox"),
    ("popup LOV on a plain text item", _field("PROFISSAO", WebSel="#P1_NOME"), ("Formulario", "PROFISSAO"),
     "erro", "botão P1_NOME_lov_btn não encontrado"),
    ("date in another format", _value("DATA_NASCIMENTO", "1982-05-10"), ("Formulario", "DATA_NASCIMENTO"),
     "erro", "não segue o formato DD/MM/YYYY"),
    ("date that does not exist", _value("DATA_NASCIMENTO", "31/04/1982"), ("Formulario", "DATA_NASCIMENTO"),
     "erro", "o mês 4/1982 não tem dia 31"),
    ("multi-select on a single list", _field("IDIOMAS", WebSel="#P1_PAIS"), ("Formulario", "IDIOMAS"), "erro",
     "lista de escolha simples"),
    ("single list on a multi-select", _field("PAIS", WebSel="#P1_IDIOMAS"), ("Formulario", "PAIS"), "aviso",
     "use \"multiselect\""),
    ("grid add button that is not there", _grid("TitInserir", WebSel="#TIT_INSERIR"), ("Titulares", "TitInserir"),
     "erro", "botão não encontrado"),
    ("grid cell of a kind the grid skips", _grid("TIT_DATA_NASCIMENTO", ColTipo="date"),
     ("Titulares", "TIT_DATA_NASCIMENTO"), "erro", "a grelha só preenche"),
]


@pytest.mark.parametrize("change, key, veredito, fragment", [m[1:] for m in MISTAKES], ids=[m[0] for m in MISTAKES])
def test_each_planted_mistake_is_found_on_the_page(shared_form, run, change, key, veredito, fragment):
    mapa, dados = demo("mapa.json"), demo("dados.json")
    change(mapa, dados)
    findings = by_column(run(cf.fCtVerificarMapa(shared_form, mapa, dados)))
    f = findings.pop(key)
    assert f["veredito"] == veredito and fragment in f["mensagem"], f
    findings.pop(LEGACY_PICKER)
    assert {g["veredito"] for g in findings.values()} == {"ok"}


def test_mapping_and_data_columns_that_do_not_match(shared_form, run):
    mapa, dados = demo("mapa.json"), demo("dados.json")
    mapa["APELIDO"] = {"WebSel": "#P1_OCULTO", "ColTipo": "text"}  # after the sections: never reached
    dados["TELEFONE"] = "912 345 678"                                # in the data only
    del dados["RepAtivarPreenc"]
    findings = by_column(run(cf.fCtVerificarMapa(shared_form, mapa, dados)))
    apelido = findings[("Formulario", "APELIDO")]
    assert apelido["veredito"] == "erro"
    assert "vem depois da secção \"Representantes\"" in apelido["mensagem"]
    assert "coluna ausente dos dados" in apelido["mensagem"]
    assert findings[("Formulario", "TELEFONE")]["veredito"] == "aviso"
    assert findings[("Representantes", "RepAtivarPreenc")]["veredito"] == "erro"


CHROMIUM = os.environ.get("ZV_CHROMIUM", "/usr/bin/chromium")


def test_the_command_line_prints_the_findings_and_fails_on_an_error(tmp_path):
    mapa = demo("mapa.json")
    mapa["PAIS"]["WebSel"] = "#P1_PAISX"
    path = tmp_path / "mapa.json"
    path.write_text(json.dumps(mapa), encoding="utf-8")
    done = subprocess.run([sys.executable, "-m", "ziveviver", "verificar", "--mapa", str(path),
                           "--navegador", CHROMIUM], capture_output=True, text=True, timeout=120, cwd=tmp_path)
    assert done.returncode == 1, done.stderr
    out = done.stdout.splitlines()
    assert out[-1] == "35 verificações: 33 ok, 1 aviso, 1 erro."
    assert "  ERRO   Formulario.PAIS #P1_PAISX [dropdownlist]: nenhum elemento encontrado com este seletor" in out
    assert "  ok     Formulario.ESTADO #P1_ESTADO [dropdownlist]: confere" in out
