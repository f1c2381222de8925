"""Every command reads its inputs through the same code: the form's address (--url, a local
file path allowed), the mapping, the data, the records and the saved login give the same
Portuguese "Erro:" line and exit status 2 from preencher, verificar, mapear and lote, before
any browser opens."""
import json

import pytest

from ziveviver.executor import COMMANDS, browser, cmd_lote, main
from ziveviver.executor.cli import RunError, build_parser

MAPA = {"NOME": {"WebSel": "#P1_NOME", "ColTipo": "text"}}
DADOS = {"NOME": "Ana", "RepAtivarPreenc": 0}
ESTADO = {"cookies": [], "origins": []}
BAD_JSON = '{\n  "cookies" []\n}\n'  # line 2, column 13: the colon is missing
BAD_JSON_LINE = "JSON inválido em {path}, linha 2, coluna 13: faltam os dois pontos ':' depois do nome da chave."
BOM = b"\xef\xbb\xbf"


@pytest.fixture
def files(tmp_path, monkeypatch):
    """Good input files (each with a byte-order mark) in the current folder, and no browser:
    a command that gets as far as opening one fails the test."""
    monkeypatch.chdir(tmp_path)
    for name, value in (("mapa.json", MAPA), ("dados.json", DADOS), ("login.json", ESTADO),
                        ("registos.json", [DADOS])):
        (tmp_path / name).write_bytes(BOM + json.dumps(value).encode("utf-8"))
    (tmp_path / "form.html").write_text("<!doctype html><input id='P1_NOME'>", encoding="utf-8")

    async def refuse(*args, **kwargs):
        raise RunError("o teste não abre o navegador")
    monkeypatch.setattr(browser, "open_page", refuse)
    monkeypatch.setattr(browser, "open_context", refuse)
    return tmp_path


def argv(command, url="form.html", mapa="mapa.json", dados="dados.json", estado="login.json"):
    named = {"preencher": ["--mapa", mapa, "--dados", dados, "--headless"],
             "verificar": ["--mapa", mapa, "--dados", dados],
             "mapear": [],
             "lote": ["--mapa", mapa, "--registos", "registos.json"]}[command]
    return [command, "--url", url, *named, "--estado", estado]


COMMANDS_READING = ("preencher", "verificar", "mapear", "lote")
WITH_MAPPING = ("preencher", "verificar", "lote")


@pytest.mark.parametrize("command", COMMANDS_READING)
@pytest.mark.parametrize("change, expected", [
    ({"estado": "falta.json"}, ["Erro: estado: o ficheiro falta.json não existe."]),
    ({"estado": "mau.json"}, ["Erro: estado: " + BAD_JSON_LINE.format(path="mau.json"),
                              '      "cookies" []', "    " + " " * 12 + "^"]),
    ({"url": "paginas/form.html"}, ["Erro: --url: o ficheiro paginas/form.html não existe."]),
    ({"url": "apex.exemplo/ords/r/app"},
     ["Erro: --url: apex.exemplo/ords/r/app não é um endereço completo (comece por https:// ou http://) "
      "nem um ficheiro que exista."]),
], ids=["missing file", "bad json", "missing page file", "address without scheme"])
def test_every_command_reports_an_unusable_input_alike(files, capsys, command, change, expected):
    (files / "mau.json").write_text(BAD_JSON, encoding="utf-8")
    assert main(argv(command, **change)) == 2
    assert capsys.readouterr().err.splitlines() == expected


@pytest.mark.parametrize("command", WITH_MAPPING)
@pytest.mark.parametrize("which", ["mapa", "dados"])
def test_every_command_reports_a_mapping_or_data_file_alike(files, capsys, command, which):
    (files / "mau.json").write_text(BAD_JSON, encoding="utf-8")
    if which == "dados" and command == "lote":
        which = "registos"  # lote's data are its records
        args = argv(command)
        args[args.index("registos.json")] = "mau.json"
    else:
        args = argv(command, **{which: "mau.json"})
    assert main(args) == 2
    assert capsys.readouterr().err.splitlines()[0] == f"Erro: {which}: " + BAD_JSON_LINE.format(path="mau.json")
    args[args.index("mau.json")] = "nada.json"
    assert main(args) == 2
    assert capsys.readouterr().err.splitlines() == [f"Erro: {which}: o ficheiro nada.json não existe."]


@pytest.mark.parametrize("command", COMMANDS_READING)
def test_files_with_a_byte_order_mark_and_a_page_given_as_a_file_path_are_accepted(files, capsys, command):
    """Past the inputs, the command opens the browser (which the fixture refuses)."""
    assert main(argv(command)) == 1
    assert capsys.readouterr().err.splitlines() == ["Erro: o teste não abre o navegador"]


def test_lote_reads_the_inputs_it_is_given_as_the_others_do(files):
    args = build_parser(COMMANDS).parse_args(argv("lote"))
    mapping, records, *_ = cmd_lote.prepare(args)
    assert (args.url, mapping, [r.data for r in records], args.estado_dados) == (
        (files / "form.html").as_uri(), MAPA, [DADOS], ESTADO)
