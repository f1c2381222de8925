"""``ziveviver lote`` without a browser: the records read from each format, their checks and
keys, the parts, the status file (cut lines, resume rules) and the report made from it."""
import json
import types
import zipfile

import pytest

from ziveviver.executor import COMMANDS, cmd_lote, main
from ziveviver.executor import records as recs
from ziveviver.executor import statusfile as st
from ziveviver.executor.cli import InputError, RunError, build_parser
from ziveviver.executor import submission
from ziveviver.executor.submission import is_submit as _is_submit
from lote_files import write_records

MAPPING = {"NOME": {"WebSel": "#P1_NOME", "ColTipo": "text"},
           "IDIOMAS": {"WebSel": "#P1_IDIOMAS", "ColTipo": "multiselect"},
           "PROFISSAO": {"WebSel": "#P1_PROFISSAO", "ColTipo": "popuplovid"}}
RECORDS = [{"ID": "A1", "NOME": "Ana Sá", "IDIOMAS": ["PT", "EN"], "PROFISSAO": "101", "RepAtivarPreenc": 0},
           {"ID": "B2", "NOME": "Rui; Lima", "IDIOMAS": [], "PROFISSAO": "105", "RepAtivarPreenc": 0}]


def load(path, mapping=MAPPING, key=None, sheet=None):
    rows, fmt = recs.read_rows(path, sheet)
    return recs.make_records(rows, fmt, mapping, key)


@pytest.mark.parametrize("fmt", ["json", "jsonl", "csv", "xlsx"])
def test_every_format_gives_the_same_records(tmp_path, fmt):
    records, warnings = load(write_records(tmp_path / "r", RECORDS, fmt), key="ID")
    assert [r.data for r in records] == RECORDS
    assert [(r.position, r.key) for r in records] == [(1, "A1"), (2, "B2")]
    assert warnings == []
    records, _ = load(write_records(tmp_path / "r", RECORDS, fmt))
    assert [r.key for r in records] == ["1", "2"]  # by position without --chave


def test_xlsx_named_sheet_saved_formula_values_dates_and_whole_numbers(tmp_path):
    import datetime

    from openpyxl import Workbook

    book = Workbook()
    book.active.append(["not", "this", "sheet"])
    sheet = book.create_sheet("Propostas")
    sheet.append(["ID", "PROFISSAO", "NASC", "ADESAO", None])
    sheet.append([7, "=A2*15", datetime.date(1982, 5, 10), datetime.datetime(2024, 12, 2, 9, 30), None])
    sheet["C2"].number_format = "dd/mm/yyyy"
    sheet["D2"].number_format = "yyyy-mm-dd hh:mm"
    path = tmp_path / "r.xlsx"
    book.save(path)
    # a formula cell as the spreadsheet program leaves it: the formula and its saved value
    with zipfile.ZipFile(path) as z:
        files = {n: z.read(n) for n in z.namelist()}
    files["xl/worksheets/sheet2.xml"] = files["xl/worksheets/sheet2.xml"].replace(
        b"<f>A2*15</f><v />", b"<f>A2*15</f><v>105</v>")
    with zipfile.ZipFile(path, "w") as z:
        for name, raw in files.items():
            z.writestr(name, raw)
    mapping = {"PROFISSAO": MAPPING["PROFISSAO"],
               "NASC": {"WebSel": "#P1_DATA_NASC", "ColTipo": "datepicker"}}
    records, warnings = load(path, mapping, key="ID", sheet="Propostas")
    assert [(r.key, r.data) for r in records] == [
        ("7", {"ID": 7, "PROFISSAO": 105, "NASC": "10/05/1982", "ADESAO": "2024-12-02 09:30",
               "RepAtivarPreenc": 0})]  # the column without a name and no values is left out
    assert warnings == ["colunas dos registos que o mapa não tem (não são preenchidas): ADESAO."]
    with pytest.raises(InputError, match='não tem a folha "Outra"; as folhas são: Sheet, Propostas'):
        load(path, mapping, sheet="Outra")


@pytest.mark.parametrize("name, content, expected", [
    ("r.jsonl", '{"NOME": "a", "RepAtivarPreenc": 0}\n\n{"NOME": "b"\n',
     ["linha 2 em branco", "linha 3, coluna 13: falta uma vírgula"]),
    ("r.json", '{"NOME": "a"}', ["deve ter uma lista de registos"]),
    ("r.csv", "NOME,NOME\na,b\n", ['a coluna "NOME" aparece duas vezes']),
    ("r.csv", "NOME,IDIOMAS\na,PT,x\n", ["linha 2: 3 valores para 2 colunas"]),
    ("r.txt", "", ["formato de", "desconhecido"]),
])
def test_files_that_cannot_be_read(tmp_path, name, content, expected):
    (tmp_path / name).write_text(content, encoding="utf-8")
    with pytest.raises(InputError) as e:
        load(tmp_path / name)
    text = "\n".join(e.value.problems)
    assert all(part in text for part in expected), text


def test_every_record_problem_names_its_position_and_key(tmp_path):
    rows = [{"ID": "X", "NOME": "a", "IDIOMAS": "PT", "RepAtivarPreenc": 0},
            {"ID": "X", "NOME": "b", "IDIOMAS": ["PT"], "RepAtivarPreenc": 0},
            {"NOME": "c", "IDIOMAS": ["PT"], "RepAtivarPreenc": 0},
            {"ID": "Z", "NOME": "d", "IDIOMAS": ["PT"]}]
    path = tmp_path / "r.jsonl"
    path.write_text("".join(json.dumps(r) + "\n" for r in rows), encoding="utf-8")
    with pytest.raises(InputError) as e:  # a key column the file does not have: said once
        load(path, key="CPF")
    assert e.value.problems == ['--chave: os registos não têm a coluna "CPF"; as colunas são: ID, NOME, '
                                'IDIOMAS, RepAtivarPreenc.']
    with pytest.raises(InputError) as e:
        load(path, key="ID")
    assert e.value.problems == [
        'registo 1 (linha 1, chave X), "IDIOMAS" (multiselect): espera uma lista de valores, por '
        'exemplo ["PT", "EN"] (recebido um texto).',
        'registo 2 (linha 2): a chave "X" repete a do registo 1; as chaves têm de ser únicas.',
        'registo 3 (linha 3): falta o valor da chave "ID".',
        'registo 4 (linha 4, chave Z): falta "RepAtivarPreenc" (1 para preencher o representante, 0 '
        'para não o preencher).']


def test_bad_records_stop_the_command_before_any_browser(tmp_path, capsys):
    mapa = tmp_path / "mapa.json"
    mapa.write_text(json.dumps(dict(MAPPING, Titulares={"TitInserir": {"WebSel": "#A"}, "TitGravar": {"WebSel": "#B"}})))
    good = write_records(tmp_path / "r", RECORDS, "csv")
    assert main(["lote", "--url", "http://x/", "--mapa", str(mapa), "--registos", str(good), "--parte", "3/2"]) == 2
    assert "--parte: escreva K/N com 1 ≤ K ≤ N" in capsys.readouterr().err
    bad = tmp_path / "bad.jsonl"
    bad.write_text('{"NOME": "a", "IDIOMAS": "PT", "RepAtivarPreenc": 0}\n', encoding="utf-8")
    assert main(["lote", "--url", "http://x/", "--mapa", str(mapa), "--registos", str(bad)]) == 2
    assert 'Erro: registo 1 (linha 1, chave 1), "IDIOMAS" (multiselect)' in capsys.readouterr().err
    # CSV rows have no sections: said once, the records themselves are fine
    _, warnings = load(good, json.loads(mapa.read_text()))
    assert warnings == ["o mapa tem secções (Titulares), mas os registos de CSV só trazem campos "
                        "simples: as secções não são preenchidas.", "colunas dos registos que o mapa "
                        "não tem (não são preenchidas): ID."]
    assert not list(tmp_path.glob("*.estado.jsonl"))
    # another run holds the status file: refused before anything, with the status for bad input
    holder = st.StatusFile(tmp_path / "r.csv.relatorio.estado.jsonl")
    try:
        assert main(["lote", "--url", "http://x/", "--mapa", str(mapa), "--registos", str(good)]) == 2
    finally:
        holder.close()
    assert "outra execução está a usar o ficheiro de estado" in capsys.readouterr().err


def test_parts_share_the_records_out_and_have_their_own_files(tmp_path):
    records = [types.SimpleNamespace(position=p) for p in range(1, 8)]
    parts = [[r.position for r in recs.select_part(records, (k, 3))] for k in (1, 2, 3)]
    assert parts == [[1, 4, 7], [2, 5], [3, 6]]
    (tmp_path / "mapa.json").write_text(json.dumps(MAPPING), encoding="utf-8")
    registos = write_records(tmp_path / "r", RECORDS * 2, "csv")
    args = build_parser(COMMANDS).parse_args(["lote", "--url", "http://u/", "--mapa", str(tmp_path / "mapa.json"),
                                              "--registos", str(registos), "--parte", "2/2"])
    _, mine, part, report, status, _ = cmd_lote.prepare(args)
    assert ([r.key for r in mine], part) == (["2", "4"], (2, 2))
    assert (report.name, status.name) == ("r.csv.relatorio.parte-2-de-2.csv",
                                          "r.csv.relatorio.parte-2-de-2.estado.jsonl")
    assert recs.parse_part(" 2/3 ") == (2, 3)
    for bad in ("0/3", "4/3", "2", "a/b"):
        with pytest.raises(InputError):
            recs.parse_part(bad)
    assert st.report_paths("out/r.json", "x.csv", None)[1] == st.pathlib.Path("out/r.estado.jsonl")


def test_status_survives_a_cut_line_and_resume_skips_settled_and_unconfirmed_records(tmp_path):
    records = [recs.Record(p, f"linha {p}", k, {"N": k}) for p, k in enumerate("abcdefgh", 1)]
    path = tmp_path / "r.estado.jsonl"
    status = st.StatusFile(path)
    status.start_run("r.jsonl", None)
    states = ["submetido", "ignorado", "falhou", "preenchido", "parado", None, "a_submeter", "rejeitado"]
    for rec, state in zip(records, states):
        if state is None:
            continue
        status.record(rec, "preenchido", campos_certos=1, campos_esperados=1)
        if state != "preenchido":
            status.record(rec, state, motivo=f"porque {state}")
    status.close()
    whole = path.read_text(encoding="utf-8")
    path.write_text(whole + '{"chave": "f", "estado": "subm', encoding="utf-8")  # died while writing

    status = st.StatusFile(path)
    with pytest.raises(st.InUse):  # a second run over the same file
        st.StatusFile(path)
    assert status.warnings == [f"{path}, linha 15: linha de estado ilegível, ignorada."]
    assert status.run == 2
    records[0].data = {"N": "changed"}
    todo, unconfirmed, notes = st.resume_plan(records, status)
    assert ([r.key for r in todo], [r.key for r in unconfirmed]) == (["c", "d", "e", "f", "h"], ["g"])
    assert notes == ["Execuções anteriores: 1 submetido e 1 ignorado (ficam como estão); 1 submissão "
                     "por confirmar; 1 falhou e 3 ficaram por submeter (voltam a ser preenchidos).",
                     "o registo 1 (chave a) mudou desde que foi submetido; não é preenchido de novo.",
                     "Registo 7 (chave g): submissão por confirmar: o pedido foi enviado à aplicação, mas "
                     "a resposta não chegou. Confirme-o na aplicação; se não ficou registado, corra de novo "
                     "com --refazer g."]
    # the operator names it: filled again; a submitted record is never filled again
    todo, unconfirmed, notes = st.resume_plan(records, status, {"g", "a"})
    assert ([r.key for r in todo], unconfirmed) == (["c", "d", "e", "f", "g", "h"], [])
    assert "--refazer a: o registo 1 foi submetido; não é preenchido de novo." in notes
    status.record(records[2], "preenchido", campos_certos=2, campos_esperados=3)  # a new attempt
    status.close()
    lines = path.read_text(encoding="utf-8").splitlines()
    assert lines[:14] == whole.splitlines() and json.loads(lines[-1])["chave"] == "c"

    report = tmp_path / "r.json"
    st.write_report(report, st.report_rows(records, st.StatusFile(path)))  # free again once closed
    rows = {r["chave"]: r for r in json.loads(report.read_text(encoding="utf-8"))}
    assert {k: r["resultado"] for k, r in rows.items()} == {
        "a": "submetido", "b": "ignorado", "c": "preenchido", "d": "preenchido", "e": "parado", "f": "pendente",
        "g": "a_submeter", "h": "rejeitado"}
    assert rows["c"]["motivo"] is None and rows["c"]["campos_esperados"] == 3  # the old failure is gone
    assert rows["a"]["campos_certos"] == 1 and rows["e"]["motivo"] == "porque parado"
    with pytest.raises(InputError, match="--refazer: x não é chave de nenhum registo"):
        cmd_lote._redo_keys("g, x", records)
    assert cmd_lote._redo_keys(" g,h ", records) == {"g", "h"}


def test_records_a_killed_run_left_open_in_the_operators_browser(tmp_path):
    """A record last preenchido or rejeitado was left open by a run that died: unconfirmed on
    resume (unless --refazer names it) when that run filled in the operator's browser (--cdp),
    or may have (a run line of an older runner, without "cdp"); filled again as any other when
    the run had started its own browser, which went with it."""
    records = [recs.Record(p, f"linha {p}", k, {"N": k}) for p, k in enumerate("abcdefgh", 1)]
    by_key = {rec.key: rec for rec in records}
    path = tmp_path / "r.estado.jsonl"
    older = [{"execucao": 1, "quando": "x", "registos": "r.jsonl", "parte": None},
             {"chave": "a", "posicao": 1, "estado": "preenchido", "execucao": 1},
             {"chave": "h", "posicao": 8, "estado": "preenchido", "execucao": 1}]
    path.write_text("".join(json.dumps(line) + "\n" for line in older), encoding="utf-8")
    for cdp, states in ((False, {"b": ["preenchido"], "h": ["preenchido"]}),
                        (True, {"c": ["preenchido", "a_submeter", "rejeitado"], "d": ["preenchido"],
                                "e": ["preenchido", "parado"], "f": ["preenchido", "a_submeter"],
                                "g": ["preenchido"]})):
        status = st.StatusFile(path)
        status.start_run("r.jsonl", None, cdp=cdp)
        for key, seq in states.items():
            for state in seq:
                status.record(by_key[key], state)
        status.close()
    status = st.StatusFile(path)
    assert [line.get("cdp") for line in status.lines if "chave" not in line] == [None, False, True]
    assert [rec.key for rec in st.left_open(records, status)] == ["a", "c", "d", "g"]
    assert [rec.key for rec in st.left_open(records, status, {"d", "a"})] == ["c", "g"]
    todo, _, _ = st.resume_plan(records, status)  # the plan itself is unchanged: the tabs decide
    assert [rec.key for rec in todo] == ["a", "b", "c", "d", "e", "g", "h"]


def test_what_counts_as_the_forms_submit():
    main_frame, other = object(), object()
    page = types.SimpleNamespace(main_frame=main_frame)

    def request(method, url, navigation, frame=main_frame):
        return types.SimpleNamespace(method=method, url=url, frame=frame,
                                     is_navigation_request=lambda: navigation)
    assert _is_submit(request("POST", "https://h/ords/f?p=1:2", True), page)
    assert _is_submit(request("POST", "https://h/ords/wwv_flow.accept?p_context=1", False), page)
    assert _is_submit(request("POST", "https://h/ords/r/app/page/accept", False), page)
    assert not _is_submit(request("POST", "https://h/ords/wwv_flow.ajax", False), page)
    assert not _is_submit(request("GET", "https://h/ords/f?p=1:3", True), page)
    assert not _is_submit(request("POST", "https://h/x", True, frame=other), page)
    # the answer of APEX's ajax page submit: errors refuse it (said once, as the page says
    # them), a redirect accepts it, anything else is not such an answer
    refused = submission.ajax_errors(json.dumps({"errors": [
        {"type": "error", "location": ["page", "inline"], "pageItem": "P1_NOME", "message": "Nome?"},
        {"type": "error", "location": "inline", "pageItem": "P1_NIF", "message": "NIF inválido"}]}))
    assert submission.rejection(refused + [{"item": "P1_NOME", "text": "Nome?"}]) == "Nome?; P1_NIF: NIF inválido"
    assert submission.ajax_errors('{"redirectURL": "f?p=1:2"}') == []
    assert submission.ajax_errors("<html>") is None and submission.ajax_errors('{"x": 1}') is None
    assert recs._date_format("mm-dd-yy") == "%d/%m/%Y"
    assert recs._date_format('d"º" mmm yyyy') == "%dº %b %Y"


def lote_args(tmp_path, registos, *extra):
    return ["lote", "--url", "http://127.0.0.1:1/f", "--mapa", str(tmp_path / "mapa.json"),
            "--registos", str(registos), *extra]


def test_records_files_of_one_base_name_keep_their_own_report_and_status(tmp_path, capsys, monkeypatch):
    """reg.jsonl filled earlier; reg.csv and reg.xlsx (other people) get files of their own, and
    a status file is not taken for another records file (refused, exit 2, nothing written)."""
    async def no_browser(*args, **kwargs):
        raise RunError("o teste não abre o navegador")
    monkeypatch.setattr(cmd_lote._browser, "open_context", no_browser)
    (tmp_path / "mapa.json").write_text(json.dumps(MAPPING), encoding="utf-8")
    files = {fmt: write_records(tmp_path / "reg", RECORDS if fmt == "jsonl" else RECORDS[::-1], fmt)
             for fmt in ("jsonl", "csv", "xlsx")}
    paths = {fmt: st.report_paths(None, path, None) for fmt, path in files.items()}
    assert len({p for pair in paths.values() for p in pair}) == 6
    assert [p.name for p in paths["xlsx"]] == ["reg.xlsx.relatorio.csv", "reg.xlsx.relatorio.estado.jsonl"]
    earlier = st.StatusFile(paths["jsonl"][1])
    earlier.start_run(files["jsonl"], None)
    for rec in recs.make_records(*recs.read_rows(files["jsonl"]), MAPPING)[0]:
        earlier.record(rec, "submetido")
    earlier.close()
    capsys.readouterr()

    # its own files: the csv's records are filled (here the browser is refused), not "done"
    assert main(lote_args(tmp_path, files["csv"])) == 1
    assert "Nada a fazer" not in capsys.readouterr().out
    # the jsonl's status file named for the csv: refused before anything, no report left
    report = tmp_path / "outro.csv"
    status = report.with_name("outro.estado.jsonl")
    paths["jsonl"][1].rename(status)
    assert main(lote_args(tmp_path, files["csv"], "--relatorio", str(report))) == 2
    assert capsys.readouterr().err.splitlines()[-1:] == [
        f"Erro: o ficheiro de estado {status} é dos registos {files['jsonl']}, não de {files['csv']}; para "
        "estes registos indique outro relatório com --relatorio (o ficheiro de estado fica ao lado dele)."]
    assert not report.exists() and not paths["csv"][0].exists()
    # the same records moved elsewhere are still the same
    moved = tmp_path / "movidos.jsonl"
    files["jsonl"].rename(moved)
    assert main(lote_args(tmp_path, moved, "--relatorio", str(report))) == 0
    assert "Nada a fazer: não há registos por preencher." in capsys.readouterr().out


def test_a_batch_begun_under_the_older_default_name_keeps_its_files(tmp_path):
    registos = write_records(tmp_path / "reg", RECORDS, "jsonl")
    old = tmp_path / "reg.relatorio.estado.jsonl"
    old.write_text(json.dumps({"execucao": 1, "quando": "", "registos": "reg.jsonl", "parte": None}) + "\n",
                   encoding="utf-8")
    assert st.report_paths(None, registos, None) == (tmp_path / "reg.relatorio.csv", old)
    other = write_records(tmp_path / "reg", RECORDS, "csv")
    assert st.report_paths(None, other, None)[1].name == "reg.csv.relatorio.estado.jsonl"
