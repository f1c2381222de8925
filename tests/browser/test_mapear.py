"""Mapping a page in real Chromium: on the demo form (24.2, the item registry) and on the 20.x-style
second page (items in another order, read from the markup) the written mapping agrees with the
hand-written one, passes the runner's input checks and the pre-flight check with its data
template, and a fill with it lands every field; the command writes nothing for a page it
cannot map; the check waits for an item the page renders late."""
import asyncio
import json
import pathlib
import re
import socket
import subprocess
import sys

import pytest

from ziveviver import vexoconferencia as cf
from ziveviver.executor import inputs
from ziveviver.executor.progress import LinesView, fill_form

DEMO_DIR = pathlib.Path(__file__).resolve().parents[2] / "src" / "ziveviver" / "demo"
FORM_URL = (DEMO_DIR / "form.html").as_uri()
BUNDLED_MAPPING = json.loads((DEMO_DIR / "mapa.json").read_text(encoding="utf-8"))
BUNDLED_DATA = json.loads((DEMO_DIR / "dados.json").read_text(encoding="utf-8"))


def same_kind(kind):
    return "datepicker" if kind == "date" else kind  # one fill for both names


def item_name(sel):
    return re.sub(r"^#P\d+_", "", sel)  # the item without its page: the two pages share names


@pytest.mark.parametrize("page_file, registry", [("form.html", True), ("form_legado.html", False)])
def test_the_written_mapping_fits_the_page_and_a_fill_with_it_lands(new_page, run, quiet, tmp_path, page_file, registry):
    page = run(new_page())
    run(page.goto((DEMO_DIR / page_file).as_uri()))
    got = run(cf.fCtMapearPagina(page))
    assert got["problema"] is None and got["pagina"]["pronta"] is True
    assert got["pagina"]["registo"] is registry
    mapping, template = got["mapa"], got["dados"]

    # every simple field of the hand-written mapping, with its selector and kind
    by_name = {item_name(cfg["WebSel"]): (col, cfg) for col, cfg in mapping.items()}
    # (the 20.x-style page has no item of the types 24.2 adds)
    on_page = run(page.evaluate("(sels) => sels.filter((s) => document.querySelector(s))",
                                [cfg["WebSel"] for _, cfg in inputs.simple_fields(BUNDLED_MAPPING)]))
    expected = {item_name(cfg["WebSel"]): cfg["ColTipo"] for col, cfg in inputs.simple_fields(BUNDLED_MAPPING)
                if cfg["WebSel"] in on_page}
    assert {n: same_kind(by_name[n][1]["ColTipo"]) for n in expected if n in by_name} == \
        {n: same_kind(k) for n, k in expected.items()}
    order = [item_name(cfg["WebSel"]) for cfg in mapping.values()]
    assert order[:2] == (["NOME", "DATA_NASC"] if registry else ["IDIOMAS", "PROFISSAO"])  # page order
    assert ("TARDIO" in order) is registry  # the demo's item added a second after load is there

    # the runner's input checks take the files as written (labels and formats included)
    (tmp_path / "mapa.json").write_text(json.dumps(mapping), encoding="utf-8")
    (tmp_path / "dados.json").write_text(json.dumps(template), encoding="utf-8")
    assert inputs.load_inputs(tmp_path / "mapa.json", tmp_path / "dados.json")[2] == []
    assert any("Formato" in cfg for cfg in mapping.values()) is registry
    assert not [f for f in run(cf.fCtVerificarMapa(page, mapping, template)) if f["veredito"] == "erro"]

    # the bundled data, put into the template by item, fills every field
    data = dict(template)
    for col, cfg in inputs.simple_fields(BUNDLED_MAPPING):
        if cfg["WebSel"] in on_page:
            data[by_name[item_name(cfg["WebSel"])][0]] = BUNDLED_DATA[col]
    lines = []
    outcome = run(fill_form(page, mapping, data, view=LinesView(lines.append)))
    assert outcome.complete and not outcome.error, lines
    receipt = {r["coluna"]: r["estado"] for r in run(cf.fCtConferirForm(page, mapping, data))}
    landed = {by_name[item_name(cfg["WebSel"])][0] for _, cfg in inputs.simple_fields(BUNDLED_MAPPING)
              if cfg["WebSel"] in on_page}
    assert {c: receipt[c] for c in landed} == {c: "igual" for c in landed}
    run(page.close())


def test_the_check_waits_for_an_item_the_page_renders_late(new_page, run, quiet):
    page = run(new_page())
    # the page's timers run on Playwright's clock: the item comes only when the test moves it
    run(page.clock.install(time=1_700_000_000_000))
    run(page.clock.pause_at(1_700_000_060_000))
    run(page.goto(FORM_URL + "?tardio=2500"))
    mapping = {"TARDIO": {"WebSel": "#P1_TARDIO", "ColTipo": "text", "Rotulo": "Código promocional"}}

    class Waiting:
        """The check's log: `seen` is set once its first look found nothing and it waits."""

        def __init__(self):
            self.seen = asyncio.Event()

        def info(self, msg, *args, **kw):
            if msg.startswith("fCtVerificarMapa -> A aguardar o item #P1_TARDIO "):
                self.seen.set()

        warning = error = debug = info

    async def check_while_it_comes():
        from ziveviver import vexocontrole as vc

        log = Waiting()
        vc.gDebugDev, vc.objfLog = True, log  # the quiet fixture puts both back
        task = asyncio.ensure_future(cf.fCtVerificarMapa(page, mapping, {"TARDIO": "X", "RepAtivarPreenc": 0}))
        seen = asyncio.ensure_future(log.seen.wait())
        await asyncio.wait([seen, task], timeout=30, return_when=asyncio.FIRST_COMPLETED)
        seen.cancel()
        assert log.seen.is_set(), "the check did not wait for the item it had not found"
        await page.clock.run_for(2500)
        return await task

    finding = run(check_while_it_comes())[0]
    assert (finding["coluna"], finding["veredito"], finding["mensagem"]) == ("TARDIO", "ok", "confere")
    run(page.close())


def mapear(*args):
    return subprocess.run([sys.executable, "-m", "ziveviver", "mapear", *map(str, args)],
                          capture_output=True, text=True, timeout=120)


def test_the_command_prints_the_items_and_writes_both_files(tmp_path):
    done = mapear("--url", DEMO_DIR / "form.html", "--saida", tmp_path / "m.json", "--dados-modelo", tmp_path / "d.json")
    assert done.returncode == 0, done.stderr
    mapping = json.loads((tmp_path / "m.json").read_text(encoding="utf-8"))
    assert mapping["NOME"] == {"WebSel": "#P1_NOME", "ColTipo": "text", "Rotulo": "Nome completo"}
    assert json.loads((tmp_path / "d.json").read_text(encoding="utf-8"))["RepAtivarPreenc"] == 0
    out = done.stdout
    assert "  fora   #P1_SOLEITURA            text             (só de leitura)  \"Código do plano\"" in out
    assert 'A região "Titulares" parece uma grelha (botões #TIT_ADD e #TIT_SAVE)' in out
    assert '  "Beneficiarios": {' in out and "não se reconhece pela página" in out
    assert sorted(p.name for p in tmp_path.iterdir()) == ["d.json", "m.json"]


LOGIN = """<html><body><script>window.apex = {item: () => ({node: false}), items: {}};</script>
<div id="P101_USERNAME_CONTAINER" class="t-Form-fieldContainer"><input id="P101_USERNAME" class="apex-item-text"></div>
<div id="P101_PASSWORD_CONTAINER" class="t-Form-fieldContainer"><input id="P101_PASSWORD" type="password" class="apex-item-text"></div>
</body></html>"""


@pytest.mark.parametrize("page, args, status, message", [
    ("<html><body><input id='q'></body></html>", (), 1, "a página não é uma página APEX"),
    (LOGIN, (), 1, "a página pede o início de sessão"),
    ("http://127.0.0.1:{port}/", (), 1, "não foi possível abrir http://127.0.0.1:{port}/: net::ERR_CONNECTION_REFUSED"),
    (None, (), 2, "falta --url"),
    ("<html></html>", ("--saida", "nao/existe.json"), 2, "--saida: a pasta de nao/existe.json não existe."),
    ("<html></html>", ("--dados-modelo", "m.json"), 2, "--saida e --dados-modelo não podem ser o mesmo ficheiro."),
    ("<html></html>", ("--cdp", "http://127.0.0.1:9222", "--headed"), 2, "--cdp usa o navegador já aberto"),
])
def test_the_command_writes_nothing_for_bad_input_or_a_page_it_cannot_map(tmp_path, monkeypatch, page, args, status, message):
    monkeypatch.chdir(tmp_path)
    url = []
    if page and page.startswith("http"):
        with socket.socket() as s:  # a port nobody listens on
            s.bind(("127.0.0.1", 0))
            port = s.getsockname()[1]
        page, message = page.format(port=port), message.format(port=port)
        url = ["--url", page]
    elif page:
        (tmp_path / "p.html").write_text(page, encoding="utf-8")
        url = ["--url", tmp_path / "p.html"]
    done = mapear(*url, "--saida", "m.json", *args)
    assert done.returncode == status
    assert message in done.stderr and "Traceback" not in done.stderr
    assert not (tmp_path / "m.json").exists()
