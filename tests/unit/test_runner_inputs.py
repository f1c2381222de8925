"""The runner's checks of its input files and arguments: every problem reported in Portuguese,
with the file and line for bad JSON, and nothing started (no browser) when the input is bad."""
import json
import sys

import pytest

from ziveviver.executor import cmd_entrar, cmd_preencher, inputs, main

# CPython 3.13+ reports a trailing comma by name, at the comma
TRAILING_COMMA_NAMED = sys.version_info >= (3, 13)

GOOD_MAPPING = {
    "NOME": {"WebSel": "#P1_NOME", "ColTipo": "text"},
    "SEXO": {"WebSel": "#P1_SEXO", "ColTipo": "Radio"},
    "IDIOMAS": {"WebSel": "#P1_IDIOMAS", "ColTipo": "multiselect"},
    "Representantes": {"REP_NOME": {"WebSel": "#P1_REP_NOME", "ColTipo": "text"}},
    "Titulares": {
        "TitInserir": {"WebSel": "#TIT_ADD"},
        "TIT_NOME": {"WebSel": "#P2_TIT_NOME", "ColTipo": "text"},
        "TIT_VINCULO": {"WebSel": "#P2_TIT_VINCULO", "ColTipo": "checkboxmultiple"},
        "TitGravar": {"WebSel": "#TIT_SAVE"},
    },
}
GOOD_DATA = {"NOME": "Ana", "SEXO": "1", "IDIOMAS": ["PT"], "RepAtivarPreenc": 1,
             "Representantes": {"REP_NOME": "Rui"}, "Titulares": [{"TIT_NOME": "Ana", "TIT_VINCULO": 0}]}


def write(tmp_path, name, content):
    path = tmp_path / name
    if isinstance(content, bytes):
        path.write_bytes(content)
    else:
        path.write_text(content if isinstance(content, str) else json.dumps(content), encoding="utf-8")
    return path


def edited(base, change):
    copy = json.loads(json.dumps(base))
    change(copy)
    return copy


@pytest.mark.parametrize("content, line, col, reason", [
    # a trailing comma: 3.13+ points at the comma itself
    ('{\n  "NOME": {"WebSel": "#P1_NOME", "ColTipo": "text"},\n}\n',
     *((2, 52, "vírgula a mais antes de '}'") if TRAILING_COMMA_NAMED else
       (3, 1, "esperava-se o nome de uma chave entre aspas duplas"))),
    ('[1, 2,]', *((1, 6, "vírgula a mais antes de ']'") if TRAILING_COMMA_NAMED else
                  (1, 7, "esperava-se um valor"))),
    ('{\n  "A": 1\n  "B": 2\n}\n', 3, 3, "falta uma vírgula"),
    ('{"PASTA": "C:\\dados"}', 1, 14, "sequência de escape inválida"),
    ('{"A": 1} {"B": 2}', 1, 10, "há texto depois do fim do JSON"),
    ('{"A": }', 1, 7, "esperava-se um valor"),
])
def test_bad_json_names_the_file_line_and_column_and_points_at_it(tmp_path, content, line, col, reason):
    path = write(tmp_path, "mapa.json", content)
    with pytest.raises(inputs.InputError) as err:
        inputs.load_json(path, "mapa")
    head, quoted, caret = err.value.problems
    assert head.startswith(f"mapa: JSON inválido em {path}, linha {line}, coluna {col}: {reason}")
    assert quoted == "    " + content.splitlines()[line - 1]
    assert caret.index("^") == 4 + col - 1


@pytest.mark.parametrize("content, message", [
    (None, "o ficheiro {path} não existe."),
    (b'{"NOME": "Jo\xe3o",\n "X": "\xe9"}', "{path} não está em UTF-8 (byte inválido na linha 1)"),
])
def test_unreadable_files(tmp_path, content, message):
    path = tmp_path / "dados.json" if content is None else write(tmp_path, "dados.json", content)
    with pytest.raises(inputs.InputError) as err:
        inputs.load_json(path, "dados")
    assert message.format(path=path) in err.value.problems[0]


def test_a_byte_order_mark_is_accepted_and_key_order_kept(tmp_path):
    path = write(tmp_path, "mapa.json", b'\xef\xbb\xbf{"B": 1, "A": 2}')
    assert list(inputs.load_json(path, "mapa")) == ["B", "A"]


@pytest.mark.parametrize("change, expected", [
    (lambda m: m["NOME"].pop("WebSel"), ['mapa, campo "NOME": falta "WebSel"']),
    (lambda m: m["NOME"].pop("ColTipo"), ['mapa, campo "NOME": falta "ColTipo"']),
    (lambda m: m["NOME"].update(WebSel=""), ['mapa, campo "NOME": "WebSel" deve ser um texto não vazio']),
    (lambda m: m.update(NOME="#P1_NOME"), ['mapa, campo "NOME": a configuração deve ser um objeto']),
    (lambda m: m["NOME"].update(ColTipo="caixa"),
     ['mapa, campo "NOME": tipo de campo "caixa" desconhecido; os tipos aceites são: text, textarea']),
    (lambda m: m["NOME"].update(ColTipo=" text"), ['tipo de campo " text" desconhecido (há espaços a mais)']),
    (lambda m: m["NOME"].update(ColTipo=3), ['mapa, campo "NOME": "ColTipo" deve ser um texto, não 3.']),
    (lambda m: m["Representantes"]["REP_NOME"].update(ColTipo="popuplovdesc"),
     ['mapa, Representantes, campo "REP_NOME": tipo de campo "popuplovdesc" desconhecido']),
    (lambda m: m.update(Representantes=["REP_NOME"]), ['a secção "Representantes" deve ser um objeto']),
    (lambda m: m["Titulares"]["TIT_NOME"].update(ColTipo="Text"),
     ['coluna "TIT_NOME": tipo de campo "Text" desconhecido (nas grelhas o tipo escreve-se em minúsculas: "text")']),
    (lambda m: m["Titulares"]["TIT_NOME"].update(ColTipo="date"),
     ['coluna "TIT_NOME": tipo de campo "date" desconhecido (este tipo não é aceite numa grelha)']),
    (lambda m: m["Titulares"].pop("TitGravar"), ['mapa, Titulares: falta "TitGravar" com o "WebSel" do botão que grava']),
    (lambda m: m["Titulares"]["TitInserir"].pop("WebSel"), ['falta "TitInserir" com o "WebSel" do botão que acrescenta']),
    (lambda m: m.update(Titulares=[]), ['a secção "Titulares" deve ser um objeto com "TitInserir", "TitGravar"']),
    # every problem is listed, in file order
    (lambda m: (m["NOME"].pop("WebSel"), m["SEXO"].update(ColTipo="opcao")),
     ['campo "NOME": falta "WebSel"', 'campo "SEXO": tipo de campo "opcao" desconhecido']),
])
def test_mapping_problems(change, expected):
    problems, _ = inputs.check_mapping(edited(GOOD_MAPPING, change), "mapa")
    assert len(problems) == len(expected)
    for problem, fragment in zip(problems, expected):
        assert fragment in problem


@pytest.mark.parametrize("mapping", [[{"NOME": {}}], "texto", None])
def test_a_mapping_that_is_not_an_object(mapping):
    problems, _ = inputs.check_mapping(mapping, "mapa")
    assert len(problems) == 1 and problems[0].startswith("mapa: o mapa deve ser um objeto JSON")


def test_a_good_mapping_passes_and_a_field_after_a_section_is_warned_about():
    assert inputs.check_mapping(GOOD_MAPPING) == ([], [])
    late = dict(GOOD_MAPPING, OBS={"WebSel": "#P1_OBS", "ColTipo": "textarea"})
    problems, warnings = inputs.check_mapping(late, "mapa")
    assert problems == []
    assert warnings == ['mapa: o campo "OBS" vem depois da secção "Representantes" e não será '
                        "preenchido (os campos simples vêm antes das secções)."]


@pytest.mark.parametrize("change, problem", [
    (lambda d: d.pop("RepAtivarPreenc"), 'dados: falta "RepAtivarPreenc"'),
    (lambda d: d.pop("IDIOMAS"), 'dados, "IDIOMAS" (multiselect): espera uma lista de valores, por exemplo '
                                 '["PT", "EN"] (falta nos dados).'),
    (lambda d: d.update(IDIOMAS="PT"), '"IDIOMAS" (multiselect): espera uma lista de valores, por exemplo '
                                       '["PT", "EN"] (recebido um texto).'),
    (lambda d: d.update(Representantes=[{"REP_NOME": "Rui"}]), 'dados: "Representantes" deve ser um objeto'),
    (lambda d: d.update(Titulares={"TIT_NOME": "Ana"}), 'dados: "Titulares" deve ser uma lista de objetos'),
    (lambda d: d.update(Titulares=["Ana"]), 'dados: "Titulares" deve ser uma lista de objetos'),
])
def test_data_problems(change, problem):
    problems, _ = inputs.check_data(edited(GOOD_DATA, change), GOOD_MAPPING, "dados")
    assert len(problems) == 1 and problem in problems[0]


@pytest.mark.parametrize("change, warning", [
    (lambda d: d.update(RepAtivarPreenc="1"), '"RepAtivarPreenc" é o texto "1", que não ativa o representante'),
    (lambda d: d.update(SEXO="F"), 'dados, "SEXO" (Radio): o valor "F" não é uma posição'),
    (lambda d: d["Titulares"][0].update(TIT_VINCULO="Conjuge"),
     'dados, Titulares 1, "TIT_VINCULO" (checkboxmultiple): o valor "Conjuge" não é uma posição'),
    (lambda d: d.update(Beneficiarios=[{"BEN_NOME": "Rui"}]),
     'há "Beneficiarios" nos dados, mas o mapa não tem a secção "Beneficiarios"'),
])
def test_data_warnings(change, warning):
    problems, warnings = inputs.check_data(edited(GOOD_DATA, change), GOOD_MAPPING, "dados")
    assert problems == []
    assert len(warnings) == 1 and warning in warnings[0]


def test_good_data_passes_and_sections_not_filled_are_not_checked():
    assert inputs.check_data(GOOD_DATA, GOOD_MAPPING) == ([], [])
    # representatives off: their record is never read, whatever its shape
    off = dict(GOOD_DATA, RepAtivarPreenc=0, Representantes=["?"])
    assert inputs.check_data(off, GOOD_MAPPING) == ([], [])
    assert inputs.check_data(["?"], GOOD_MAPPING)[0] == [
        "dados: os dados devem ser um objeto JSON {\"COLUNA\": valor, ...}, não uma lista."]


@pytest.fixture
def no_browser(monkeypatch):
    """Fails the test if the command gets as far as opening a browser."""
    async def refuse(*args, **kwargs):
        raise AssertionError("a browser was started")
    monkeypatch.setattr(cmd_preencher, "_preencher", refuse)
    monkeypatch.setattr(cmd_entrar, "_entrar", refuse)


@pytest.mark.parametrize("files, extra, expected", [
    ({"mapa": "{\n  \"A\": 1,\n}", "dados": GOOD_DATA}, [],
     ["Erro: mapa: JSON inválido em {mapa}, linha 2, coluna 9" if TRAILING_COMMA_NAMED else
      "Erro: mapa: JSON inválido em {mapa}, linha 3, coluna 1"]),
    # both files are read, so both are reported at once
    ({"mapa": "[1,", "dados": "{"}, [],
     ["Erro: mapa: JSON inválido em {mapa}, linha 1", "Erro: dados: JSON inválido em {dados}, linha 1"]),
    ({"mapa": [GOOD_MAPPING], "dados": GOOD_DATA}, [], ["Erro: mapa {mapa}: o mapa deve ser um objeto JSON"]),
    ({"mapa": edited(GOOD_MAPPING, lambda m: m["NOME"].update(ColTipo="caixa")), "dados": GOOD_DATA}, [],
     ['Erro: mapa {mapa}, campo "NOME": tipo de campo "caixa" desconhecido']),
    ({"mapa": GOOD_MAPPING, "dados": edited(GOOD_DATA, lambda d: d.pop("RepAtivarPreenc"))}, [],
     ['Erro: dados {dados}: falta "RepAtivarPreenc"']),
    ({"mapa": GOOD_MAPPING, "dados": GOOD_DATA, "estado": ["cookie"]}, [],
     ["Erro: estado: {estado} não é um estado de sessão guardado por 'ziveviver entrar'"]),
    ({"mapa": GOOD_MAPPING}, [], ["Erro: falta --dados."]),
    ({"mapa": GOOD_MAPPING, "dados": GOOD_DATA}, ["--cdp", "http://127.0.0.1:9222", "--headless"],
     ["Erro: --cdp usa o navegador já aberto: não se combina com --estado, --navegador, --canal nem --headless."]),
    ({"mapa": GOOD_MAPPING, "dados": GOOD_DATA}, ["--espera", "-1"],
     ["Erro: --espera não pode ser negativo"]),
])
def test_preencher_reports_bad_input_and_opens_no_browser(tmp_path, capsys, no_browser, files, extra, expected):
    paths = {name: write(tmp_path, f"{name}.json", content) for name, content in files.items()}
    argv = ["preencher", "--url", "http://127.0.0.1:1/f"] + extra
    for name, path in paths.items():
        argv += [f"--{name}", str(path)]
    assert main(argv) == 2
    err = capsys.readouterr().err
    for fragment in expected:
        assert fragment.format(**paths) in err
    assert "Traceback" not in err


@pytest.mark.parametrize("argv, fragment", [
    (["preencher", "--mapa", "m.json", "--dados", "d.json"], "Erro: falta --url"),
    (["preencher", "--aviso", "popup"],
     "erro: argumento --aviso: valor inválido 'popup' (escolha entre 'modal', 'janela', 'nenhum')"),
    (["preencher", "--espera", "dez"], "erro: argumento --espera: valor inválido 'dez'"),
    (["demo", "--ritmo", "rapido"],
     "erro: argumento --ritmo: valor inválido 'rapido' (escolha entre 'literal', 'adaptativo')"),
    (["preencher", "--navegador", "x", "--canal", "chrome"], "erro: argumento --canal: não se combina com --navegador"),
    (["entrar", "--url", "http://127.0.0.1:1/"], "Erro: falta --salvar."),
    (["entrar", "--url", "http://127.0.0.1:1/", "--salvar", "sem/pasta/login.json"],
     "Erro: a pasta de sem/pasta/login.json não existe."),
])
def test_argument_errors_are_reported_in_portuguese(tmp_path, monkeypatch, capsys, no_browser, argv, fragment):
    monkeypatch.chdir(tmp_path)
    try:
        status = main(argv)
    except SystemExit as e:  # argparse's own errors leave through parser.exit
        status = e.code
    assert status == 2
    assert fragment in capsys.readouterr().err


def test_the_readme_example_passes_the_checks():
    import pathlib
    import re

    readme = (pathlib.Path(__file__).resolve().parents[2] / "README.md").read_text(encoding="utf-8")
    blocks = dict(re.findall(r"^(mapa\.json|dados\.json):\n\n```json\n(.*?)```", readme, re.S | re.M))
    mapping, data = json.loads(blocks["mapa.json"]), json.loads(blocks["dados.json"])
    assert inputs.check_mapping(mapping) == ([], [])
    assert inputs.check_data(data, mapping) == ([], [])
    # most of the kinds a simple field can have are shown, and the sections
    kinds = {cfg["ColTipo"] for col, cfg in mapping.items() if col not in inputs.SECTIONS}
    assert len(kinds) >= 7 and set(inputs.SECTIONS) - set(mapping) <= {"Beneficiarios"}


def test_the_ziveviver_command_is_installed():
    import pathlib
    import subprocess
    import sys

    command = pathlib.Path(sys.executable).parent / "ziveviver"
    done = subprocess.run([str(command), "preencher", "--help"], capture_output=True, text=True, timeout=60)
    assert done.returncode == 0 and done.stdout.startswith("uso: ziveviver preencher")


@pytest.mark.parametrize("command", [[]] + [[c] for c in ("demo", "verificar", "preencher", "entrar")])
def test_every_help_is_in_portuguese(capsys, command):
    from ziveviver.executor import COMMANDS

    assert len(COMMANDS) >= 4
    with pytest.raises(SystemExit) as e:
        main([*command, "--help"])
    out = capsys.readouterr().out
    assert e.value.code == 0
    assert out.startswith("uso: ziveviver")
    assert "opções:" in out and "mostra esta ajuda e termina" in out
    for english in ("usage:", "options:", "positional arguments", "show this help", "optional arguments"):
        assert english not in out


def test_an_unknown_command_is_refused_in_portuguese(capsys):
    with pytest.raises(SystemExit) as e:
        main(["preencha"])
    assert e.value.code == 2
    err = capsys.readouterr().err
    assert err.startswith("uso: ziveviver") and "erro: argumento COMANDO: valor inválido 'preencha'" in err


@pytest.mark.parametrize("command", ["preencher", "lote", "demo"])
def test_the_runner_fills_under_the_adaptive_pacing_unless_told_otherwise(capsys, command):
    from ziveviver import ritmo
    from ziveviver.executor import COMMANDS
    from ziveviver.executor.cli import build_parser

    parser = build_parser(COMMANDS)
    assert parser.parse_args([command]).ritmo == "adaptativo"
    assert parser.parse_args([command, "--ritmo", "literal"]).ritmo == "literal"
    with pytest.raises(SystemExit):
        parser.parse_args([command, "--help"])
    said = " ".join(capsys.readouterr().out.split())
    assert "(adaptativo, por omissão)" in said and "--ritmo literal" in said
    assert ritmo.atual() == "literal"  # the library's own default is left as it was


@pytest.mark.parametrize("command, hint", [
    (["lote", "--mapa", "{dir}/m.json", "--registos", "{dir}/r.json", "--relatorio", "{dir}/rel.csv"],
     "corra numa sessão gráfica, ou use --cdp com um navegador já aberto (com --remote-debugging-port)"),
    (["preencher", "--mapa", "{dir}/m.json", "--dados", "{dir}/d.json"], "use --headless ou corra numa sessão gráfica"),
    (["mapear", "--headed"], "corra sem --headed ou numa sessão gráfica"),
])
def test_without_a_desktop_each_command_says_what_it_can_do_instead(tmp_path, monkeypatch, capsys, command, hint):
    monkeypatch.setenv("DISPLAY", "")
    monkeypatch.setenv("WAYLAND_DISPLAY", "")
    write(tmp_path, "m.json", {"NOME": {"WebSel": "#P1_NOME", "ColTipo": "text"}})
    write(tmp_path, "d.json", {"NOME": "Ana", "RepAtivarPreenc": 0})
    write(tmp_path, "r.json", [{"NOME": "Ana", "RepAtivarPreenc": 0}])
    assert main([a.format(dir=tmp_path) for a in command] + ["--url", "http://127.0.0.1:1/f"]) == 1
    said = capsys.readouterr().err.splitlines()[-1]
    assert said.startswith("Erro: não há ambiente gráfico (DISPLAY) para mostrar o ") and said.endswith(f"; {hint}.")
