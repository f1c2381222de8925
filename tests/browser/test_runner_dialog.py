"""The runner on a form opened as a modal dialog page (the stand-in's ?novo=1: the top page
opens its "Novo" dialog at start-up; the dialog page's iframe holds the same form): preencher
with --url (the dialog found, or named with --quadro) and over CDP fills the dialog page and
leaves the top page's items alone; mapear maps the dialog page and says so, and with several
iframes holding APEX items asks for --quadro."""
import asyncio

import pytest
from test_runner import EXPECTED, PROGRESS, Handler, cdp_chromium, filled, files, runner, server  # noqa: F401

DIALOG = ".ui-dialog--apex iframe"
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

