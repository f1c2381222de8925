"""The application's server side for the ``lote`` tests: the stand-in form over HTTP, and the
answer to its submit. A submit is the form's POST to enviado.html (a new page; a dialog page's
full-page POST goes to fechar_dialogo.html, whose page closes the dialog) or, on a page opened
with ``?ajax=1`` and in a dialog page by default, APEX's page submit by ajax to wwv_flow.accept
(answered in JSON).

- every submit is noted in ``posts`` by the P1_NOME it carried;
- ``hold()`` keeps the answers to the next submits until ``release()``;
- a name in ``reject`` is refused once, as APEX refuses a page that fails its validations:
  the form again with the error notification and the item's inline error (a new page), or
  ``{"errors": [...]}`` (ajax);
- any other submit is accepted: the page it was posted to ("Pedido submetido", or the page
  that closes the dialog), or ``{"redirectURL": ...}``.
"""
import http.server
import json
import pathlib
import threading
import urllib.parse

DEMO_DIR = pathlib.Path(__file__).resolve().parents[1] / "src" / "ziveviver" / "demo"
# The pages a full-page POST accepted is answered with: the one it was posted to.
ANSWER_PAGES = ("enviado.html", "fechar_dialogo.html")
GUARD_S = 120  # an answer is never held longer than this, whatever the test does
REJECTION = "O nome não pode ser aceite: confirme-o com o documento."
# What APEX's server writes for a page refused by a validation (page notification and the
# item's inline error), as apex.message renders the same errors on the page.
PAGE_ERRORS = (
    '<span id="APEX_ERROR_MESSAGE" class="u-visible"><div class="a-Notification a-Notification--error">'
    '<div class="a-Notification-title aErrMsgTitle">Ocorreu 1 erro</div>'
    '<ul class="a-Notification-list htmldbUlErr"><li class="a-Notification-item htmldbStdErr">'
    '<a href="#" data-for="P1_NOME" class="a-Notification-link">{msg}</a></li></ul></div></span>')
INLINE_ERROR = ('<span id="P1_NOME_error_placeholder" class="a-Form-error u-visible">'
                '<div id="P1_NOME_error">{msg}</div></span>')


class LoteServer(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self):
        super().__init__(("127.0.0.1", 0), _Handler)
        self.posts = []
        self.reject = set()
        self._lock = threading.Lock()
        self._answer = threading.Event()
        self._answer.set()
        threading.Thread(target=self.serve_forever, daemon=True).start()

    def url(self, query=""):
        return f"http://127.0.0.1:{self.server_address[1]}/form.html" + (f"?{query}" if query else "")

    def hold(self):
        self._answer.clear()

    def release(self):
        self._answer.set()

    def posted(self, name):
        with self._lock:
            return self.posts.count(name)

    def stop(self):
        self.release()
        self.shutdown()
        self.server_close()

    def _note(self, name):
        with self._lock:
            self.posts.append(name)
            refused = name in self.reject
            self.reject.discard(name)
            return refused


class _Handler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def _send(self, body, ctype="text/html; charset=utf-8"):
        try:
            self.send_response(200)
            self.send_header("Content-Type", ctype)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
        except (BrokenPipeError, ConnectionResetError):  # the tab that asked is gone
            pass

    def _form(self, errors=""):
        html = (DEMO_DIR / "form.html").read_text(encoding="utf-8")
        if "ajax=1" in self.path:
            html = html.replace("</body>", "<script>window.__zv.submitAjax = true;</script></body>")
        if errors:
            html = html.replace('<form id="wwvFlowForm"', PAGE_ERRORS.format(msg=errors) + '<form id="wwvFlowForm"', 1)
            tag_end = html.index(">", html.index('id="P1_NOME"')) + 1
            html = html[:tag_end] + INLINE_ERROR.format(msg=errors) + html[tag_end:]
        return html.encode("utf-8")

    def do_GET(self):
        name = urllib.parse.urlsplit(self.path).path.rsplit("/", 1)[-1]
        if name == "form.html":
            self._send(self._form())
        elif name in ("enviado.html", "itens242.js", "dialog.js", "apex_standin.js", "apex_message.js", "form.css"):
            ctype = {"js": "text/javascript", "css": "text/css"}.get(name.rsplit(".", 1)[1], "text/html; charset=utf-8")
            self._send((DEMO_DIR / name).read_bytes(), ctype)
        else:
            self.send_error(404)

    def do_POST(self):
        fields = urllib.parse.parse_qs(self.rfile.read(int(self.headers.get("Content-Length", 0))).decode())
        refused = self.server._note(fields.get("P1_NOME", [""])[0])
        self.server._answer.wait(GUARD_S)
        ajax = self.path.split("?", 1)[0].endswith("wwv_flow.accept")
        if ajax and refused:
            self._send(json.dumps({"errors": [{"type": "error", "location": ["page", "inline"],
                                               "pageItem": "P1_NOME", "message": REJECTION}]}).encode(),
                       "application/json")
        elif ajax:
            self._send(json.dumps({"redirectURL": "enviado.html"}).encode(), "application/json")
        elif refused:
            self._send(self._form(REJECTION))
        else:
            name = urllib.parse.urlsplit(self.path).path.rsplit("/", 1)[-1]
            self._send((DEMO_DIR / (name if name in ANSWER_PAGES else "enviado.html")).read_bytes())
