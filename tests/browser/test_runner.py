"""The runner end to end in real Chromium: `ziveviver preencher` launching its own browser
(against the stand-in form served over HTTP, which reports what it holds back to the test
server), attached over CDP to a Chromium the test started, reusing a session saved by
`ziveviver entrar`, and its messages when the browser, the page or the session fail."""
import asyncio
import csv
import http.server
import json
import os
import pathlib
import re
import select
import shutil
import signal
import socket
import subprocess
import sys
import threading
import time
import urllib.request
import zipfile

import pytest

from ziveviver.executor import main

DEMO_DIR = pathlib.Path(__file__).resolve().parents[2] / "src" / "ziveviver" / "demo"
FORM_FILE_URL = (DEMO_DIR / "form.html").as_uri()
CHROMIUM = os.environ.get("ZV_CHROMIUM", "/usr/bin/chromium")
GUARD = 120  # seconds; a guard against a hang, not a measurement

MAPPING = {
    "NOME": {"WebSel": "#P1_NOME", "ColTipo": "text"},
    "SEXO": {"WebSel": "#P1_SEXO", "ColTipo": "radio"},
    "CIDADE": {"WebSel": "#P1_CIDADE", "ColTipo": "autocomplete"},
    "PAIS": {"WebSel": "#P1_PAIS", "ColTipo": "dropdownlist"},
    "OBS": {"WebSel": "#P1_OBS", "ColTipo": "textarea"},
}
DATA = {"NOME": "Marta Sousa", "SEXO": "0", "CIDADE": "", "PAIS": "PT",
        "OBS": "Ligar depois das 14h.", "RepAtivarPreenc": 0}
EXPECTED = {"P1_NOME": "Marta Sousa", "P1_SEXO": "M", "P1_CIDADE": "", "P1_PAIS": "PT",
            "P1_OBS": "Ligar depois das 14h."}
PROGRESS = [
    "A preencher 5 campos: 5 do formulário.",
    "[1/5] Formulário: NOME (text)",
    "[2/5] Formulário: SEXO (radio)",
    "[3/5] Formulário: CIDADE (autocomplete) (sem valor)",
    "[4/5] Formulário: PAIS (dropdownlist)",
    "[5/5] Formulário: OBS (textarea)",
    "Preenchimento concluído: 5 campos",
]

# Added to the served form: posts what the page holds to the test server ten times a second.
REPORTER = b"""<script>
setInterval(() => {
  if (!(window.__zv && window.__zv.ready)) return;
  navigator.sendBeacon("/estado", JSON.stringify({
    state: window.__zv.state(), saved: window.__zv.saved,
    notice: document.getElementById("final-modal-overlay") !== null}));
}, 100);
</script></body>"""
LOGIN_PAGE = b"<!doctype html><html><body><h1>Entrar</h1><input id='P101_USERNAME'></body></html>"


class FormServer(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self):
        super().__init__(("127.0.0.1", 0), Handler)
        self.reports = []
        self.posts = []
        self.stopping = threading.Event()

    @property
    def base(self):
        return f"http://127.0.0.1:{self.server_address[1]}"

    def last_report(self):
        assert self.reports, "the page never reported"
        return self.reports[-1]


class Handler(http.server.BaseHTTPRequestHandler):
    """/form.html (and its files) the stand-in form with the reporter (?submeter=ITEM: a change
    of that item submits the page); /privado/form.html the same behind the session cookie, a
    login page without it; /entrar sets the cookie; /lento never answers; POST /estado keeps
    the page's report; any other POST (a submission) is noted and answered 204."""

    def log_message(self, *args):
        pass

    def _send(self, status, body, ctype="text/html; charset=utf-8", headers=()):
        self.send_response(status)
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(body)))
        for k, v in headers:
            self.send_header(k, v)
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        path = self.path.split("?", 1)[0]
        name = path.rsplit("/", 1)[-1]
        if path == "/lento":
            self.server.stopping.wait(GUARD)
            return
        if path == "/entrar":
            self._send(200, b"<!doctype html><p>Sessao iniciada</p>",
                       headers=[("Set-Cookie", "sessao=ok; Path=/; HttpOnly")])
            return
        if name == "form.html":
            if path.startswith("/privado/") and "sessao=ok" not in (self.headers.get("Cookie") or ""):
                self._send(200, LOGIN_PAGE)
                return
            body = (DEMO_DIR / "form.html").read_bytes().replace(b"</body>", REPORTER)
            submit_on = re.search(r"[?&]submeter=(\w+)", self.path)
            if submit_on:
                arm = f'<script>window.__zv.submitOn = "{submit_on.group(1)}";</script></body>'
                body = body.replace(b"</body>", arm.encode())
            self._send(200, body)
            return
        file = DEMO_DIR / name
        if name in ("apex_standin.js", "itens242.js", "dialog.js", "form.css") and file.is_file():
            ctype = "text/javascript" if name.endswith(".js") else "text/css"
            self._send(200, file.read_bytes(), ctype)
            return
        self._send(404, b"nada")

    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        if self.path == "/estado":
            self.server.reports.append(json.loads(body))
        else:
            self.server.posts.append(self.path)
        self._send(204, b"")


@pytest.fixture(scope="module")
def server():
    srv = FormServer()
    thread = threading.Thread(target=srv.serve_forever, daemon=True)
    thread.start()
    yield srv
    srv.stopping.set()
    srv.shutdown()
    srv.server_close()


@pytest.fixture
def files(tmp_path):
    """Writes the mapping and data; gives the arguments that name them."""
    def _write(mapping=MAPPING, data=DATA):
        m, d = tmp_path / "mapa.json", tmp_path / "dados.json"
        m.write_text(json.dumps(mapping, ensure_ascii=False), encoding="utf-8")
        d.write_text(json.dumps(data, ensure_ascii=False), encoding="utf-8")
        return ["--mapa", str(m), "--dados", str(d)]
    return _write


def runner(*args, env=None, cwd=None):
    done = subprocess.run([sys.executable, "-m", "ziveviver", *args], capture_output=True, text=True,
                          timeout=GUARD, env=env, cwd=cwd)
    assert "Traceback" not in done.stderr, done.stderr
    return done


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def filled(state):
    return {k: state[k] for k in EXPECTED}


@pytest.mark.parametrize("aviso, extra_env, expected_tail", [
    ("nenhum", {}, ["O navegador fica aberto até o fechar (no máximo 1 s).",
                    "Tempo de espera esgotado; a fechar o navegador."]),
    # headless: nobody can press the notice's button, so --espera ends the wait for it
    ("modal", {}, ['Aviso mostrado na página: à espera que o utilizador carregue em "Enviar"...',
                   "Ninguém fechou o aviso no tempo de --espera; o aviso fica na página."]),
    # no desktop to show the message box on: said, and the run still counts as done
    ("janela", {"DISPLAY": "", "WAYLAND_DISPLAY": ""},
     ["A mostrar a janela de aviso...", "Tempo de espera esgotado; a fechar o navegador."]),
])
def test_preencher_fills_in_its_own_browser_and_shows_progress(server, files, tmp_path, aviso, extra_env,
                                                               expected_tail):
    server.reports.clear()
    env = dict(os.environ, **extra_env)
    done = runner("preencher", "--url", server.base + "/form.html", *files(), "--headless",
                  "--aviso", aviso, "--espera", "1", env=env, cwd=tmp_path)
    assert done.returncode == 0, done.stderr
    out = done.stdout.splitlines()
    progress = [line for line in out if line.startswith(("A preencher", "Preenchimento"))
                or re.match(r"\[ *\d+/\d+\] ", line)]
    assert progress[:-1] == PROGRESS[:-1]
    assert progress[-1].startswith(PROGRESS[-1])
    after = out[out.index(progress[-1]) + 1:]
    assert [line for line in after if line in expected_tail] == expected_tail
    assert after[-1] == expected_tail[-1]
    report = server.last_report()
    assert filled(report["state"]) == EXPECTED
    assert report["notice"] is (aviso == "modal")
    if aviso == "janela":
        assert done.stderr.splitlines() == ["Aviso: não foi possível mostrar a janela de aviso: não há ambiente "
                                            "gráfico (nem DISPLAY nem WAYLAND_DISPLAY); o formulário ficou preenchido."]
    else:
        assert done.stderr == ""
    assert not (tmp_path / "Logs").exists()


@pytest.mark.parametrize("guard", [True, False], ids=["guard", "sem-guarda"])
def test_preencher_guards_the_fill_and_ends_with_the_receipt(server, files, tmp_path, guard):
    """A change of OBS submits the page; a mapped item the page lacks never lands. The guard
    (unless --sem-guarda) holds the submission back and says so; the receipt shows what landed,
    goes to --recibo, and the missing item makes the exit status 1; --perfil writes its JSON."""
    server.reports.clear()
    server.posts.clear()
    mapping = dict(MAPPING, FALTA={"WebSel": "#P1_NAO_HA", "ColTipo": "text"})
    recibo, perfil = tmp_path / "recibo.csv", tmp_path / "perfil.json"
    args = ["preencher", "--url", server.base + "/form.html?submeter=P1_OBS", *files(mapping, dict(DATA, FALTA="x")),
            "--headless", "--aviso", "nenhum", "--espera", "0", "--recibo", str(recibo), "--perfil", str(perfil)]
    done = runner(*args, *([] if guard else ["--sem-guarda"]))
    assert done.returncode == 1, done.stderr
    out = done.stdout.splitlines()
    held = "A guarda reteve 1 submissão durante o preenchimento (o formulário não foi enviado):"
    if guard:
        assert out[out.index(held) + 1] == (f"  retido: submissão do formulário POST {server.base}/enviado.html "
                                            "(p_request=P1_OBS)")
        assert server.posts == []
    else:
        assert held not in out and server.posts == ["/enviado.html"]
    assert filled(server.last_report()["state"]) == EXPECTED
    # the receipt after the fill's last line, one line per field, before the profile
    end = next(i for i, line in enumerate(out) if line.startswith("Preenchimento concluído: 6 campos"))
    receipt = out[end + 1:out.index("Perfil do preenchimento:")]
    assert receipt[0] == "[Formulário]"
    assert [line.split()[:2] for line in receipt[1:7]] == [
        ["ok", "NOME"], ["ok", "SEXO"], ["vazio", "CIDADE"], ["ok", "PAIS"], ["ok", "OBS"], ["NÃO", "ENCONTRADO"]]
    assert receipt[-2:] == ["6 linhas no recibo: 4 iguais, 1 vazio, 1 não encontrado.",
                            f"Recibo gravado em {recibo}"]
    assert "Aviso: há campos que não ficaram como os dados dizem (veja o recibo acima)." in done.stderr
    with recibo.open(encoding="utf-8", newline="") as f:
        assert [(r["coluna"], r["estado"]) for r in csv.DictReader(f)][-1] == ("FALTA", "nao_encontrado")
    profile = json.loads(perfil.read_text(encoding="utf-8"))
    kinds = {k["tipo"]: k["n"] for k in profile["tipos"]}
    assert {k: kinds[k] for k in ("text", "radio", "autocomplete", "dropdownlist", "textarea")} == {
        "text": 2, "radio": 1, "autocomplete": 1, "dropdownlist": 1, "textarea": 1}
    assert profile["pausas"] == []  # none of these kinds pauses
    assert 0 < profile["total_ms"] <= profile["parede_ms"]
    assert f"Perfil gravado em {perfil}" in out


@pytest.fixture
def cdp_chromium(tmp_path):
    """A Chromium started with a remote-debugging port, as a user would; gives a function that
    starts it on the given tabs and returns (endpoint, process)."""
    procs = []

    def start(*urls):
        proc = subprocess.Popen(
            [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
             "--disable-background-networking", "--remote-debugging-port=0",
             f"--user-data-dir={tmp_path / 'perfil'}", urls[0]],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
            start_new_session=True)
        procs.append(proc)
        seen, deadline = b"", time.monotonic() + 30
        while time.monotonic() < deadline:
            ready, _, _ = select.select([proc.stderr], [], [], 1)
            if ready:
                chunk = os.read(proc.stderr.fileno(), 4096)
                if not chunk:
                    break
                seen += chunk
                m = re.search(rb"DevTools listening on ws://127\.0\.0\.1:(\d+)/", seen)
                if m:
                    endpoint = f"http://127.0.0.1:{int(m.group(1))}"
                    for url in urls[1:]:  # headless takes one address on its command line
                        request = urllib.request.Request(f"{endpoint}/json/new?{url}", method="PUT")
                        urllib.request.urlopen(request, timeout=30).close()
                    return endpoint, proc
        pytest.fail(f"Chromium gave no DevTools address: {seen.decode(errors='replace')}")

    yield start
    for proc in procs:
        if proc.poll() is None:
            os.killpg(proc.pid, signal.SIGTERM)
            try:
                proc.wait(30)
            except subprocess.TimeoutExpired:
                os.killpg(proc.pid, signal.SIGKILL)
                proc.wait()
        proc.stderr.close()


async def tabs_of(endpoint):
    """[(address, __zv.state() or None)] of every tab of the browser at `endpoint`."""
    from playwright.async_api import async_playwright

    async with async_playwright() as pw:
        browser = await pw.chromium.connect_over_cdp(endpoint)
        tabs = []
        for page in browser.contexts[0].pages:
            state = await page.evaluate("window.__zv ? window.__zv.state() : null")
            tabs.append((page.url, state))
        return tabs


@pytest.mark.parametrize("open_tabs, url_arg, says", [
    # the tab whose address is the form's, not the other one
    (["about:blank", FORM_FILE_URL], FORM_FILE_URL, f"A preencher o separador aberto em {FORM_FILE_URL}"),
    # no --url: the tab the user is on
    ([FORM_FILE_URL], None, f"A preencher o separador atual: {FORM_FILE_URL}"),
    # the form not open yet: opened in a new tab of that browser
    (["about:blank"], FORM_FILE_URL, f"Nenhum separador aberto em {FORM_FILE_URL}; a abri-lo num separador novo."),
])
def test_preencher_over_cdp_fills_the_users_tab_and_leaves_the_browser_open(cdp_chromium, files, open_tabs,
                                                                            url_arg, says):
    endpoint, proc = cdp_chromium(*open_tabs)
    args = ["preencher", "--cdp", endpoint, *files(), "--aviso", "nenhum", "--espera", "0"]
    if url_arg:
        args += ["--url", url_arg]
    done = runner(*args)
    assert done.returncode == 0, done.stderr
    assert says in done.stdout.splitlines()
    assert PROGRESS[1] in done.stdout
    assert proc.poll() is None  # the user's browser is still running
    tabs = asyncio.run(tabs_of(endpoint))
    forms = [state for address, state in tabs if address == FORM_FILE_URL]
    assert len(forms) == 1 and filled(forms[0]) == EXPECTED
    assert sorted(address for address, _ in tabs) == sorted(set(open_tabs) | {FORM_FILE_URL})


def test_mapear_over_cdp_reads_the_users_tab_and_leaves_the_browser_open(cdp_chromium, tmp_path):
    endpoint, proc = cdp_chromium(FORM_FILE_URL)
    done = runner("mapear", "--cdp", endpoint, "--saida", tmp_path / "m.json")
    assert done.returncode == 0, done.stderr
    assert f"A ler o separador atual: {FORM_FILE_URL}" in done.stdout.splitlines()
    assert json.loads((tmp_path / "m.json").read_text(encoding="utf-8"))["SEXO"]["WebSel"] == "#P1_SEXO"
    assert proc.poll() is None  # the user's browser is still running


def test_mapear_over_cdp_closes_the_tab_it_opened_and_only_that_one(cdp_chromium, tmp_path):
    endpoint, proc = cdp_chromium("about:blank")
    done = runner("mapear", "--cdp", endpoint, "--url", FORM_FILE_URL, "--saida", tmp_path / "m.json")
    assert done.returncode == 0, done.stderr
    assert f"Nenhum separador aberto em {FORM_FILE_URL}; a abri-lo num separador novo." in done.stdout
    assert json.loads((tmp_path / "m.json").read_text(encoding="utf-8"))["NOME"]["WebSel"] == "#P1_NOME"
    assert [address for address, _ in asyncio.run(tabs_of(endpoint))] == ["about:blank"]
    assert proc.poll() is None


@pytest.mark.skipif(shutil.which("xvfb-run") is None, reason="xvfb-run is not installed")
def test_entrar_saves_the_session_that_preencher_estado_reuses(server, files, tmp_path):
    login = tmp_path / "login.json"
    proc = subprocess.Popen(
        ["xvfb-run", "-a", sys.executable, "-m", "ziveviver", "entrar", "--url", server.base + "/entrar",
         "--salvar", str(login)],
        stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        for line in proc.stdout:
            if "carregue em Enter" in line:
                proc.stdin.write("\n")
                proc.stdin.flush()
                break
        out, err = proc.communicate(timeout=GUARD)
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
    assert proc.returncode == 0, err
    assert f"Sessão guardada em {login} (1 cookies)." in out
    cookies = json.loads(login.read_text(encoding="utf-8"))["cookies"]
    assert [(c["name"], c["value"]) for c in cookies] == [("sessao", "ok")]
    assert login.stat().st_mode & 0o077 == 0  # only its owner can read it

    server.reports.clear()
    done = runner("preencher", "--url", server.base + "/privado/form.html", *files(), "--estado", str(login),
                  "--headless", "--aviso", "nenhum", "--espera", "1")
    assert done.returncode == 0, done.stderr
    assert filled(server.last_report()["state"]) == EXPECTED


@pytest.mark.parametrize("args, message", [
    (["--url", "{base}/lento", "--tempo-limite", "2"],
     "Erro: a página {base}/lento não carregou em 2 s (use --tempo-limite para esperar mais)."),
    (["--url", "http://127.0.0.1:{closed}/form.html"],
     "Erro: não foi possível abrir http://127.0.0.1:{closed}/form.html: net::ERR_CONNECTION_REFUSED"),
    (["--url", "{base}/nada.html"], "Erro: o servidor respondeu 404 Not Found a {base}/nada.html."),
    # a login page instead of the form: none of the mapped items is there
    (["--url", "{base}/privado/form.html", "--tempo-limite", "2"],
     "Erro: a página {base}/privado/form.html não tem nenhum dos itens do mapa (#P1_NOME, #P1_SEXO, "
     "#P1_CIDADE, ...). É a página do formulário? Se a aplicação pede o login, use --estado (ver "
     "'ziveviver entrar') ou --cdp."),
    (["--url", "{base}/form.html", "--navegador", "/sem/chromium"],
     "Erro: o navegador indicado em --navegador não existe: /sem/chromium"),
    (["--url", "{base}/form.html", "--navegador", "/bin/false"],
     "Erro: não foi possível iniciar o navegador /bin/false: "),
    (["--url", "{base}/form.html", "--canal", "msedge"],
     "Erro: o navegador msedge não está instalado. Indique outro com --navegador CAMINHO ou --canal chrome|msedge."),
    (["--cdp", "http://127.0.0.1:{closed}"],
     "Erro: não foi possível ligar ao navegador em http://127.0.0.1:{closed} ("),
], ids=["never loads", "refused", "404", "login page", "no such browser", "not a browser", "channel missing",
        "nothing to attach to"])
def test_preencher_failures_are_explained(server, files, args, message):
    if "msedge" in args and (shutil.which("msedge") or pathlib.Path("/opt/microsoft/msedge").exists()):
        pytest.skip("Edge is installed here")
    fill = {"base": server.base, "closed": free_port()}
    args = [a.format(**fill) for a in args]
    headless = [] if "--cdp" in args else ["--headless"]
    done = runner("preencher", *args, *files(), *headless, "--aviso", "nenhum", "--espera", "0")
    assert done.returncode == 1
    assert message.format(**fill) in done.stderr
    assert "Preenchimento" not in done.stdout


def test_entrar_without_a_desktop_says_so(tmp_path):
    env = dict(os.environ, DISPLAY="", WAYLAND_DISPLAY="")
    done = runner("entrar", "--url", "http://127.0.0.1:1/", "--salvar", str(tmp_path / "login.json"), env=env)
    assert done.returncode == 1
    assert "Erro: não há ambiente gráfico (DISPLAY) para mostrar o Chromium" in done.stderr
    assert not (tmp_path / "login.json").exists()


def test_the_demo_form_through_the_runner_with_the_debug_log(server, capsys):
    """The bundled mapping and data, in this process so that the debug log goes to the test
    session's log folder."""
    server.reports.clear()
    status = main(["preencher", "--url", server.base + "/form.html", "--mapa", str(DEMO_DIR / "mapa.json"),
                   "--dados", str(DEMO_DIR / "dados.json"), "--headless", "--aviso", "nenhum",
                   "--espera", "1", "--debug"])
    out = capsys.readouterr().out.splitlines()
    assert status == 0
    assert out[2] == ("A preencher 44 campos: 16 do formulário, 5 do representante, 3 linhas de "
                      "Titulares, 2 linhas de Beneficiários.")
    end = next(i for i, line in enumerate(out) if line.startswith("Preenchimento concluído: 44 campos"))
    rows = [line.strip() for line in out[3:end] if "linha" in line]
    assert rows == [
        "Titulares: 3 linhas a preencher",
        "Titulares: linha 1 de 3...", "[26/44] Titulares: linha 1 de 3 gravada",
        "Titulares: linha 2 de 3...", "[31/44] Titulares: linha 2 de 3 gravada",
        "Titulares: linha 3 de 3...", "[36/44] Titulares: linha 3 de 3 gravada",
        "Beneficiários: 2 linhas a preencher",
        "Beneficiários: linha 1 de 2...", "[40/44] Beneficiários: linha 1 de 2 gravada",
        "Beneficiários: linha 2 de 2...", "[44/44] Beneficiários: linha 2 de 2 gravada",
    ]
    assert "[21/44] Representante: REP_PROFISSAO (popuplovid)" in out
    log_lines = [line for line in out if line.startswith("Registo de depuração: ")]
    assert len(log_lines) == 1
    log = pathlib.Path(log_lines[0].split(": ", 1)[1])
    assert log.name == "MorvelPy_Dev.log" and log.parent.name == "Logs"
    text = log.read_text(encoding="utf-8")
    assert "VexoControleApex -> fCtPreencTodoForm -> configs recebidos: " in text
    assert "Processando beneficiario 2/2" in text

    report = server.last_report()
    dados = json.loads((DEMO_DIR / "dados.json").read_text(encoding="utf-8"))
    state = report["state"]
    assert (state["P1_NOME"], state["P1_IDIOMAS"], state["P1_REP_NOME"]) == (
        dados["NOME_PROPONENTE"], dados["IDIOMAS"], dados["Representantes"]["REP_NOME"])
    assert [row["P2_TIT_NOME"] for row in report["saved"]["titulares"]] == [
        t["TIT_NOME"] for t in dados["Titulares"]]
    assert [row["P3_BEN_PERC"] for row in report["saved"]["beneficiarios"]] == [
        b["BEN_PERCENTUAL"] for b in dados["Beneficiarios"]]


@pytest.mark.parametrize("command", ["preencher", "verificar", "mapear"])
def test_a_page_given_as_a_relative_file_path_and_files_with_a_byte_order_mark(tmp_path, command):
    """As the user's guide has it: --url the form's file, the mapping and data saved with a BOM."""
    for name, value in (("mapa.json", MAPPING), ("dados.json", DATA)):
        (tmp_path / name).write_bytes(b"\xef\xbb\xbf" + json.dumps(value).encode("utf-8"))
    named = {"preencher": ["--mapa", str(tmp_path / "mapa.json"), "--dados", str(tmp_path / "dados.json"),
                           "--headless", "--aviso", "nenhum", "--espera", "0"],
             "verificar": ["--mapa", str(tmp_path / "mapa.json"), "--dados", str(tmp_path / "dados.json")],
             "mapear": ["--saida", str(tmp_path / "lido.json")]}[command]
    done = runner(command, "--url", "form.html", *named, cwd=DEMO_DIR)
    assert done.returncode == 0, done.stderr
    assert f"A carregar {FORM_FILE_URL} ..." in done.stdout.splitlines()
    if command == "mapear":
        assert json.loads((tmp_path / "lido.json").read_text(encoding="utf-8"))["NOME"]["WebSel"] == "#P1_NOME"
    elif command == "verificar":
        assert "0 erros" in done.stdout


def test_the_demo_fills_under_the_adaptive_pacing_and_says_so(tmp_path):
    done = runner("demo", "--saida", str(tmp_path), cwd=tmp_path)
    assert done.returncode == 0, done.stderr
    said = [line for line in done.stdout.splitlines() if line.startswith("Preenchido em ")]
    assert len(said) == 1 and said[0].endswith(
        " s, ritmo adaptativo (o do executor por omissão; --ritmo literal para as pausas fixas).")


@pytest.mark.parametrize("missing", [True, False], ids=["a field that did not land", "clean"])
def test_preencher_keeps_evidence_of_a_field_that_did_not_land_and_none_of_a_clean_fill(files, tmp_path, capsys,
                                                                                        missing):
    """In this process, so that the debug log the evidence turns on goes to the test session's
    log folder."""
    mapping = dict(MAPPING, FALTA={"WebSel": "#P1_NAO_HA", "ColTipo": "text"}) if missing else MAPPING
    data = dict(DATA, FALTA="x") if missing else DATA
    folder, trace = tmp_path / "evidencias", tmp_path / "traco.zip"
    status = main(["preencher", "--url", FORM_FILE_URL, *files(mapping, data), "--headless", "--aviso", "nenhum",
                   "--espera", "0", "--evidencias", str(folder), "--traco", str(trace)])
    out = capsys.readouterr().out
    assert status == (1 if missing else 0), out
    with zipfile.ZipFile(trace) as z:  # the whole fill's trace, either way
        assert any(name.endswith(".trace") for name in z.namelist())
    if not missing:
        assert not folder.exists()
        return
    assert sorted(p.name for p in folder.iterdir()) == ["dados.html", "dados.log", "dados.png"]
    log = (folder / "dados.log").read_text(encoding="utf-8").splitlines()
    assert log[:2] == ["Registo dados:", "  Formulario.FALTA (#P1_NAO_HA): NÃO ENCONTRADO, esperado 'x', na página None"]
    debug = log[log.index("Registo de depuração deste preenchimento:") + 1:]
    assert debug[0].startswith("[VexoControleApex] [")
    assert any("[ERROR] fCtPreencText -> Falha ao preencher #P1_NAO_HA" in line for line in debug)
    assert (folder / "dados.png").read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    assert 'id="P1_NOME"' in (folder / "dados.html").read_text(encoding="utf-8")
    assert f"Evidências de dados: {folder / 'dados.log'}, {folder / 'dados.png'}, {folder / 'dados.html'}" in out


def test_preencher_over_cdp_fills_a_tab_behind_as_fast_as_the_tab_in_front(cdp_chromium, server, files, tmp_path):
    """Two whole-form fills at once, each into one of two tabs of the user's window: the tab
    opened last is in front, the other behind it."""
    behind, front = server.base + "/form.html", FORM_FILE_URL
    endpoint, _ = cdp_chromium(behind, front)
    demo = [json.loads((DEMO_DIR / name).read_text(encoding="utf-8")) for name in ("mapa.json", "dados.json")]
    common = ["preencher", "--cdp", endpoint, *files(*demo), "--aviso", "nenhum", "--espera", "0",
              "--ritmo", "adaptativo"]

    async def both():
        procs = [await asyncio.create_subprocess_exec(
            sys.executable, "-m", "ziveviver", *common, "--url", url, "--perfil", str(tmp_path / f"{name}.json"),
            stdout=subprocess.PIPE, stderr=subprocess.PIPE) for name, url in (("atras", behind), ("frente", front))]
        return [(await asyncio.wait_for(p.communicate(), GUARD), p.returncode) for p in procs]

    for (_, err), rc in asyncio.run(both()):
        assert rc == 0, err.decode()
    took = {name: json.loads((tmp_path / f"{name}.json").read_text(encoding="utf-8"))["parede_ms"]
            for name in ("atras", "frente")}
    assert took["atras"] <= 1.5 * took["frente"], took
