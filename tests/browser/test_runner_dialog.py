"""The runner on a form opened as a modal dialog page (the stand-in's ?novo=1: the top page
opens its "Novo" dialog at start-up; the dialog page's iframe holds the same form): preencher
with --url (the dialog found, or named with --quadro) and over CDP fills the dialog page and
leaves the top page's items alone; mapear maps the dialog page and says so, and with several
iframes holding APEX items asks for --quadro; lote counts the dialog page's own submit as the
record's submission and a cancelled dialog as none."""
import asyncio
import json
import sys

import pytest
from lote_files import write_records
from test_lote import close_tabs, front_tab, last_states, operator_browser, status_lines, until  # noqa: F401
from test_runner import EXPECTED, GUARD, PROGRESS, Handler, cdp_chromium, filled, files, runner, server  # noqa: F401

DIALOG = ".ui-dialog--apex iframe"
LOTE_MAPA = {"NOME": {"WebSel": "#P1_NOME", "ColTipo": "text"},
             "PAIS": {"WebSel": "#P1_PAIS", "ColTipo": "dropdownlist"}}
SAYS_DIALOG = 'O formulário está no diálogo aberto "Novo pedido": a {verb} o diálogo ('
# Two iframes of APEX forms side by side, neither in a dialog.
TWO_FRAMES = (b"<!doctype html><html><body><h1>Duas</h1>"
              b"<iframe id='a' src='form.html?pagina=4'></iframe><iframe id='b' src='form.html?pagina=5'>"
              b"</iframe></body></html>")


async def frame_states(endpoint):
    """{frame url: __zv.state()} of every frame of the first tab of the browser at `endpoint`."""
    from playwright.async_api import async_playwright

    async with async_playwright() as pw:
        browser = await pw.chromium.connect_over_cdp(endpoint)
        page = browser.contexts[0].pages[0]
        return {f.url: await f.evaluate("window.__zv.state()") for f in page.frames}


@pytest.fixture(autouse=True)
def two_frames_page(monkeypatch):
    """/duas.html: the page of two iframes, served beside the form."""
    do_get = Handler.do_GET

    def do_GET(self):
        if self.path.split("?", 1)[0] == "/duas.html":
            self._send(200, TWO_FRAMES)
            return
        do_get(self)

    monkeypatch.setattr(Handler, "do_GET", do_GET)


@pytest.mark.parametrize("quadro", [None, DIALOG], ids=["encontrado", "quadro"])
def test_preencher_url_fills_the_dialog_page(server, files, tmp_path, quadro):
    args = ["preencher", "--url", server.base + "/form.html?novo=1", *files(), "--headless",
            "--aviso", "nenhum", "--espera", "0"]
    done = runner(*args, *(["--quadro", quadro] if quadro else []))
    assert done.returncode == 0, done.stderr
    out = done.stdout.splitlines()
    assert any(line.startswith(SAYS_DIALOG.format(verb="preencher")) for line in out) is (quadro is None)
    # the receipt, read back from the frame that was filled
    assert PROGRESS[1] in out and "5 linhas no recibo: 4 iguais, 1 vazio." in out


def test_preencher_over_cdp_fills_the_dialog_the_user_has_open(server, cdp_chromium, files):
    top = server.base + "/form.html?novo=1"
    endpoint, proc = cdp_chromium(top)
    done = runner("preencher", "--cdp", endpoint, *files(), "--aviso", "nenhum", "--espera", "0")
    assert done.returncode == 0, done.stderr
    assert any(line.startswith(SAYS_DIALOG.format(verb="preencher")) for line in done.stdout.splitlines())
    assert proc.poll() is None  # the user's browser is still running
    states = asyncio.run(frame_states(endpoint))
    assert filled(states[server.base + "/form.html?pagina=2"]) == EXPECTED
    # the top page beneath the dialog kept its items empty
    assert states[top]["P1_NOME"] == ""


def test_verificar_checks_the_dialog_page(server, files):
    done = runner("verificar", "--url", server.base + "/form.html?novo=1", *files())
    assert done.returncode == 0, done.stdout + done.stderr
    assert any(line.startswith(SAYS_DIALOG.format(verb="verificar")) for line in done.stdout.splitlines())


def test_mapear_maps_the_dialog_page_and_says_so(server, tmp_path):
    done = runner("mapear", "--url", server.base + "/form.html?novo=1", "--saida", tmp_path / "m.json")
    assert done.returncode == 0, done.stderr
    out = done.stdout.splitlines()
    assert any(line.startswith(SAYS_DIALOG.format(verb="ler")) for line in out)
    page_line = next(line for line in out if line.startswith("Página: "))
    assert page_line.endswith(f"({server.base}/form.html?pagina=2)")
    assert (tmp_path / "m.json").read_text(encoding="utf-8").count('"#P1_NOME"') == 1


def test_mapear_asks_which_of_several_iframes(server, tmp_path):
    done = runner("mapear", "--url", server.base + "/duas.html", "--saida", tmp_path / "m.json")
    assert done.returncode == 1
    assert f"a página {server.base}/duas.html tem 2 iframes com itens do APEX:" in done.stderr
    assert f"{server.base}/form.html?pagina=4" in done.stderr and f"{server.base}/form.html?pagina=5" in done.stderr
    assert "--quadro SELETOR" in done.stderr and not (tmp_path / "m.json").exists()
    named = runner("mapear", "--url", server.base + "/duas.html", "--quadro", "#b", "--saida", tmp_path / "m.json")
    assert named.returncode == 0, named.stderr
    assert f"({server.base}/form.html?pagina=5)" in named.stdout


def test_lote_counts_the_dialog_pages_own_submit_and_not_a_cancel(server, operator_browser, run, tmp_path):
    """Four records, each filled in the dialog page its tab opens; the operator submits three
    with the dialog page's own button (a POST of the iframe, then the dialog closes) and cancels
    the second with Escape: three "submetido", the cancelled one not."""
    address, context = operator_browser
    (tmp_path / "mapa.json").write_text(json.dumps(LOTE_MAPA), encoding="utf-8")
    people = [("Ana Lima", "PT"), ("Rui Sá", "PT"), ("Eva Costa", "BR"), ("Ivo Reis", "PT")]
    recs = [{"ID": f"D{i}", "NOME": n, "PAIS": p, "RepAtivarPreenc": 0} for i, (n, p) in enumerate(people, 1)]
    registos = write_records(tmp_path / "propostas", recs, "json")
    status_path = tmp_path / "propostas.json.relatorio.estado.jsonl"
    server.posts.clear()

    async def operate():
        log = (tmp_path / "saida.txt").open("ab")
        proc = await asyncio.create_subprocess_exec(
            sys.executable, "-m", "ziveviver", "lote", "--url", server.base + "/form.html?novo=1",
            "--mapa", str(tmp_path / "mapa.json"), "--registos", str(registos), "--cdp", address,
            "--chave", "ID", "--abas", "2", stdin=asyncio.subprocess.PIPE, stdout=log, stderr=log)
        done = []
        while len(done) < len(recs):
            page, key = await front_tab(context, done=done)
            done.append(key)
            frame = await (await page.query_selector(DIALOG)).content_frame()
            if key == "D2":
                await frame.press("#P1_NOME", "Escape")
            else:
                await frame.click("#SUBMETER")
            await until(lambda: last_states(status_lines(status_path)).get(key) in ("submetido", "parado"))
        return await proc.wait()

    try:
        code = run(asyncio.wait_for(operate(), GUARD))
    finally:
        run(close_tabs(context))
    assert last_states(status_lines(status_path)) == {
        "D1": "submetido", "D2": "parado", "D3": "submetido", "D4": "submetido"}, (tmp_path / "saida.txt").read_text()
    assert code == 1  # a record left without its submission
    assert server.posts.count("/wwv_flow.accept") == 3
