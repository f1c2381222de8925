"""The command-line side of the check and the receipt: the receipt file (JSON or CSV), the
tables, the exit decisions, and the arguments refused before any browser opens."""
import csv
import json

import pytest

from ziveviver.executor import browser, cmd_demo, main
from ziveviver.executor import receipt as conf

ROWS = [
    {"secao": "Formulario", "coluna": "NOME", "linha": None, "seletor": "#P1_NOME", "tipo": "text",
     "estado": "igual", "esperado": "Ana, filha", "obtido": "Ana, filha", "exibido": None},
    {"secao": "Formulario", "coluna": "IDIOMAS", "linha": None, "seletor": "#P1_IDIOMAS", "tipo": "multiselect",
     "estado": "diferente", "esperado": ["PT", "EN"], "obtido": ["PT"], "exibido": None},
    {"secao": "Formulario", "coluna": "PROF", "linha": None, "seletor": "#P1_PROF", "tipo": "popuplovid",
     "estado": "igual", "esperado": "101", "obtido": "101", "exibido": "Engenheiro"},
    {"secao": "Titulares", "coluna": "linhas gravadas", "linha": None, "seletor": "#TIT_ADD", "tipo": "grade",
     "estado": "igual", "esperado": 1, "obtido": 1, "exibido": None},
    {"secao": "Titulares", "coluna": "T_NOME", "linha": 1, "seletor": "#P2_NOME", "tipo": "text",
     "estado": "vazio", "esperado": None, "obtido": "", "exibido": None},
]


@pytest.mark.parametrize("name, fmt", [("r.json", "json"), ("R.CSV", "csv"), ("dir/r.Json", "json")])
def test_the_receipt_format_comes_from_the_extension(name, fmt):
    assert conf.receipt_format(name) == fmt


@pytest.mark.parametrize("name", ["r.txt", "r", "r.json.bak"])
def test_other_extensions_are_refused(name):
    with pytest.raises(ValueError, match="--recibo"):
        conf.receipt_format(name)


def test_json_receipt_keeps_every_row_as_given(tmp_path):
    path = tmp_path / "sub" / "recibo.json"
    conf.write_receipt(ROWS, path)
    assert json.loads(path.read_text(encoding="utf-8")) == ROWS


def test_csv_receipt_has_one_line_per_row_in_a_fixed_column_order(tmp_path):
    path = tmp_path / "recibo.csv"
    conf.write_receipt(ROWS, path)
    with path.open(encoding="utf-8", newline="") as f:
        lines = list(csv.reader(f))
    assert lines[0] == list(conf.RECEIPT_COLUMNS)
    assert lines[1] == ["Formulario", "NOME", "", "#P1_NOME", "text", "igual", "Ana, filha", "Ana, filha", ""]
    assert lines[2][6:8] == ["PT; EN", "PT"]
    assert lines[3][8] == "Engenheiro"
    assert lines[5][2] == "1" and len(lines) == 6


@pytest.mark.parametrize("estado, failed", [("igual", False), ("vazio", False), ("nao_conferido", False),
                                            ("diferente", True), ("nao_encontrado", True)])
def test_a_receipt_fails_when_something_did_not_land(estado, failed):
    rows = [dict(ROWS[0]), dict(ROWS[0], estado=estado)]
    assert conf.receipt_failed(rows) is failed


def test_the_receipt_table_groups_sections_and_records():
    text = conf.receipt_table(ROWS)
    lines = text.splitlines()
    assert lines[0] == "[Formulário]"
    assert "[Titulares]" in lines and "[Titular 1]" in lines
    assert lines.index("[Titulares]") < lines.index("[Titular 1]")
    prof = next(line for line in lines if "PROF" in line)
    assert prof.strip().startswith("ok") and prof.endswith("(Engenheiro)")
    assert next(line for line in lines if "IDIOMAS" in line).strip().startswith("DIFERENTE")
    assert lines[-1] == "5 linhas no recibo: 3 iguais, 1 vazio, 1 diferente."
    one = conf.receipt_table([dict(ROWS[0], estado="nao_encontrado")]).splitlines()[-1]
    assert one == "1 linha no recibo: 1 não encontrado."


def test_the_findings_table_and_its_count():
    findings = [
        {"secao": "Formulario", "coluna": "NOME", "seletor": "#P1_NOME", "tipo": "text", "veredito": "ok",
         "mensagem": "confere"},
        {"secao": "Titulares", "coluna": "Titulares", "seletor": None, "tipo": "secao", "veredito": "erro",
         "mensagem": "os dados da secção não são uma lista de registos"},
        {"secao": "Formulario", "coluna": "EXTRA", "seletor": None, "tipo": None, "veredito": "aviso",
         "mensagem": "coluna dos dados sem lugar no mapa: não será preenchida"},
    ]
    lines = conf.findings_table(findings).splitlines()
    assert lines[0] == "  ok     Formulario.NOME #P1_NOME [text]: confere"
    assert lines[1] == "  ERRO   Titulares.Titulares [secao]: os dados da secção não são uma lista de registos"
    assert lines[2] == "  AVISO  Formulario.EXTRA: coluna dos dados sem lugar no mapa: não será preenchida"
    assert lines[-1] == "3 verificações: 1 ok, 1 aviso, 1 erro."


def test_held_requests_are_listed_one_per_line():
    held = [{"url": "file:///x/enviado.html", "metodo": "POST", "navegacao": True, "pedido": "SUBMIT"},
            {"url": "https://a/ords/wwv_flow.accept", "metodo": "POST", "navegacao": False, "pedido": None}]
    assert conf.held_lines(held) == [
        "  retido: submissão do formulário POST file:///x/enviado.html (p_request=SUBMIT)",
        "  retido: submissão por ajax POST https://a/ords/wwv_flow.accept",
    ]
    assert conf.held_lines([]) == []


def test_a_bad_receipt_name_is_refused_before_any_browser_opens(monkeypatch, capsys):
    def no_browser(*a, **k):
        raise AssertionError("the demo must not start")

    monkeypatch.setattr(cmd_demo, "demo", no_browser)
    with pytest.raises(SystemExit) as e:
        main(["demo", "--recibo", "recibo.txt"])
    assert e.value.code == 2
    assert "--recibo: use um ficheiro .json ou .csv" in capsys.readouterr().err
