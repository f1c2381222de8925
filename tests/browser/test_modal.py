"""The end-of-run overlay in real Chromium: what the user sees, that the texts cannot break
or inject script, that the button releases the caller, and what happens when the page goes
away while the caller waits. The user is played by Playwright from a concurrent task."""
import asyncio
import logging
import re
import uuid

import pytest

from ziveviver import vexocontrole as vc

INJECT_LINE = "fCtPopUpHtml -> Injetar modal na pagina..."
WAIT_ERROR = "fCtPopUpHtml -> Erro ou navegador fechado durante modal: "

RECORD = re.compile(r"^\[Teste\] \[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] \[(\w+)\] (.*)$")

_BREAK = "\n" + " " * 19
DEFAULT_MSG = (
    "O formulário Dera foi pré-preenchido e encontra-se pronto para submissão.<br>"
    + _BREAK
    + "Para submeter o formulário deve confirmar os dados e depois pressionar o botão enviar.<br><br>"
    + _BREAK
    + "Após fechar esta janela de diálogo o navegador permanecerá aberto durante 10 minutes para "
    "que possa proceder às ações acima mencionadas.<br>"
    + _BREAK
    + "Caso não haja interação com o navegador o mesmo fechará e a informação pré-preenchida será "
    "perdida."
    + "\n" + " " * 8
)

STYLES = {
    "overlay": ["position:fixed", "top:0", "left:0", "width:100%", "height:100%",
                "background:rgba(0,0,0,0.85)", "z-index:999999", "display:flex",
                "justify-content:center", "align-items:center"],
    "box": ["background:#fff", "padding:30px 40px", "border-radius:12px", "max-width:500px",
            "text-align:center", "box-shadow:0 10px 30px rgba(0,0,0,0.5)",
            "font-family:Arial,sans-serif"],
    "heading": ["color:#d32f2f"],
    "text": ["color:#333", "line-height:1.5"],
    "button": ["margin-top:20px", "padding:12px 30px", "background:#1976d2", "color:white",
               "border:none", "border-radius:6px", "font-size:16px", "cursor:pointer"],
}

# What the page holds once the overlay is up; null when it is not there.
READ_OVERLAY = """() => {
  const o = document.getElementById('final-modal-overlay');
  if (!o) return null;
  const box = o.firstElementChild;
  const [heading, text, button] = box.children;
  const r = o.getBoundingClientRect();
  const css = (el, p) => getComputedStyle(el).getPropertyValue(p);
  return {
    count: document.querySelectorAll('#final-modal-overlay').length,
    inBody: o.parentNode === document.body,
    tags: [o.tagName, box.tagName, ...[...box.children].map((e) => e.tagName)],
    styles: {overlay: o.getAttribute('style'), box: box.getAttribute('style'),
             heading: heading.getAttribute('style'), text: text.getAttribute('style'),
             button: button.getAttribute('style')},
    computed: [css(o, 'position'), css(o, 'z-index'), css(o, 'background-color'),
               css(box, 'border-radius'), css(heading, 'color'), css(button, 'background-color')],
    heading: heading.textContent,
    html: text.innerHTML,
    text: text.textContent,
    buttonId: button.id,
    buttonHtml: button.innerHTML,
    buttonText: button.textContent,
    covers: [r.left, r.top, r.width, r.height, innerWidth, innerHeight],
    onTop: o.contains(document.elementFromPoint(3, 3)),
  };
}"""


def declarations(style):
    return [d.strip() for d in style.split(";") if d.strip()]


@pytest.fixture
def modlog(tmp_path):
    """A real file logger in the module's place (debug on); gives the file's lines."""
    saved = vc.gDebugDev, vc.objfLog
    path = tmp_path / "modal.log"
    logger = logging.getLogger("zv-modal-" + uuid.uuid4().hex)
    logger.setLevel(logging.INFO)
    logger.propagate = False
    handler = logging.FileHandler(path, encoding="utf-8")
    handler.setFormatter(logging.Formatter("[Teste] [%(asctime)s] [%(levelname)s] %(message)s",
                                           "%Y-%m-%d %H:%M:%S"))
    logger.addHandler(handler)
    vc.gDebugDev, vc.objfLog = True, logger

    def lines():
        """(level, message) per record; a message may run over several lines."""
        handler.flush()
        records = []
        for ln in path.read_text(encoding="utf-8").splitlines():
            m = RECORD.match(ln)
            if m:
                records.append([m.group(1), m.group(2)])
            else:
                records[-1][1] += "\n" + ln
        return [tuple(r) for r in records]

    lines.logger = logger
    yield lines
    logger.removeHandler(handler)
    handler.close()
    vc.gDebugDev, vc.objfLog = saved


LIGHT_PAGE = """<!doctype html><html><head><meta charset="utf-8"></head>
<body><form><label>Nome <input id="P1_NOME" value="Ana"></label></form></body></html>"""


@pytest.fixture
def page(browser, run):
    """A fresh, small page: the overlay needs no APEX."""
    pg = run(browser.new_page())
    run(pg.set_content(LIGHT_PAGE))
    yield pg
    if not pg.is_closed():
        run(pg.close())


async def start(coro, page):
    """Runs the notice as a task, returns it once the overlay's button is visible."""
    task = asyncio.ensure_future(coro)
    shown = asyncio.ensure_future(
        page.wait_for_selector("#modal-ok-btn", state="visible", timeout=10000))
    await asyncio.wait([task, shown], return_when=asyncio.FIRST_COMPLETED)
    if task.done():
        shown.cancel()
        task.result()  # the notice's own error, if it failed
        raise AssertionError("the notice returned before the overlay was answered")
    await shown
    return task


async def finished(task):
    # a guard against a hang, not a measurement
    return await asyncio.wait_for(task, 20)


CALL_FORMS = {
    "function, page only": lambda page, ctl: vc.fCtPopUpHtml(page),
    "function, empty texts": lambda page, ctl: vc.fCtPopUpHtml(page, "", ""),
    "function, keywords": lambda page, ctl: vc.fCtPopUpHtml(pTituloBotao="", pMsg="", pPage=page),
    "method, no arguments": lambda page, ctl: ctl.fCtPopUpHtml(),
    "method, empty keywords": lambda page, ctl: ctl.fCtPopUpHtml(pMsg="", pTituloBotao=""),
}


@pytest.mark.parametrize("form_of_call", CALL_FORMS.values(), ids=CALL_FORMS.keys())
def test_defaults_block_the_page_until_the_button_is_pressed(page, run, modlog, form_of_call):
    ctl = vc.VexoControleApex(page, False)
    vc.gDebugDev, vc.objfLog = True, modlog.logger  # construction installed its own

    async def scenario():
        task = await start(form_of_call(page, ctl), page)
        seen = await page.evaluate(READ_OVERLAY)
        # the user has not answered: the caller stays suspended while the page lives
        for _ in range(5):
            await page.evaluate("1")
            assert not task.done()
        await page.click("#modal-ok-btn")
        result = await finished(task)
        return seen, result, await page.evaluate(READ_OVERLAY)

    seen, result, after = run(scenario())
    assert result is None
    assert after is None
    assert seen["count"] == 1 and seen["inBody"]
    assert seen["tags"] == ["DIV", "DIV", "H2", "P", "BUTTON"]
    assert {k: declarations(v) for k, v in seen["styles"].items()} == STYLES
    assert seen["computed"] == ["fixed", "999999", "rgba(0, 0, 0, 0.85)", "12px",
                                "rgb(211, 47, 47)", "rgb(25, 118, 210)"]
    assert seen["heading"] == "ATENÇÃO"
    assert seen["html"] == DEFAULT_MSG
    assert seen["buttonId"] == "modal-ok-btn"
    assert seen["buttonHtml"] == "Enviar"
    left, top, width, height, vw, vh = seen["covers"]
    assert (left, top, width, height) == (0, 0, vw, vh)
    assert seen["onTop"]
    assert modlog() == [("INFO", INJECT_LINE)]


@pytest.mark.parametrize(
    "msg, caption, text, button, tags",
    [
        ("Linha um<br>Linha <b>dois</b>", "Vou <i>conferir</i>",
         "Linha umLinha dois", "Vou conferir", ["BR", "B"]),
        (None, None, "None", "None", []),
        ("<ul><li>um</li><li>dois</li></ul>", 3, "umdois", "3", ["UL", "LI", "LI"]),
    ],
    ids=["inline markup", "None", "list and number"],
)
def test_texts_are_rendered_as_markup(page, run, modlog, msg, caption, text, button, tags):
    async def scenario():
        task = await start(vc.fCtPopUpHtml(page, msg, caption), page)
        seen = await page.evaluate(READ_OVERLAY)
        inner = await page.evaluate(
            "() => [...document.querySelectorAll('#final-modal-overlay p *')].map((e) => e.tagName)")
        await page.click("#modal-ok-btn")
        await finished(task)
        return seen, inner

    seen, inner = run(scenario())
    assert seen["text"] == text
    assert seen["buttonText"] == button
    assert inner == tags


HOSTILE_MSG = "`${window.__zvPwned = 1}` ${alert(1)} \"duplas\" 'simples' </script> \\` fim"
HOSTILE_CAPTION = "`${window.__zvPwned = 2}`\"'</script>"


def test_hostile_texts_are_shown_literally_and_run_nothing(page, run, modlog):
    dialogs = []

    def on_dialog(dialog):
        dialogs.append(dialog.message)
        asyncio.ensure_future(dialog.dismiss())

    async def scenario():
        page.on("dialog", on_dialog)
        task = await start(vc.fCtPopUpHtml(page, HOSTILE_MSG, HOSTILE_CAPTION), page)
        seen = await page.evaluate(READ_OVERLAY)
        pwned = await page.evaluate("() => typeof window.__zvPwned")
        await page.click("#modal-ok-btn")
        return seen, pwned, await finished(task)

    seen, pwned, result = run(scenario())
    assert result is None
    # "</script>" is a stray end tag in markup and leaves no text; all else stays as typed
    assert seen["text"] == HOSTILE_MSG.replace("</script>", "")
    assert seen["buttonText"] == HOSTILE_CAPTION.replace("</script>", "")
    assert pwned == "undefined"
    assert dialogs == []
    assert modlog() == [("INFO", INJECT_LINE)]


@pytest.mark.parametrize("debug", [False, True])
def test_page_closed_while_waiting_logs_and_returns(page, run, modlog, debug):
    vc.gDebugDev = debug

    async def scenario():
        task = await start(vc.fCtPopUpHtml(page, "Aguarde"), page)
        await page.close()
        return await finished(task)

    assert run(scenario()) is None
    *before, (level, last) = modlog()
    assert before == ([("INFO", INJECT_LINE)] if debug else [])
    assert level == "ERROR"
    assert last.startswith(WAIT_ERROR)
    assert "closed" in last[len(WAIT_ERROR):]


def test_navigation_that_discards_the_overlay_ends_the_wait(page, run, modlog):
    async def scenario():
        task = await start(vc.fCtPopUpHtml(page, "Aguarde"), page)
        await page.reload()
        return await finished(task), await page.evaluate(READ_OVERLAY)

    result, after = run(scenario())
    assert result is None and after is None
    assert modlog() == [("INFO", INJECT_LINE)]


def test_overlay_script_failure_reaches_the_caller(page, run, modlog):
    run(page.evaluate("() => document.body.remove()"))  # nowhere to put the overlay
    with pytest.raises(Exception, match="appendChild"):
        run(vc.fCtPopUpHtml(page, "x"))
    assert modlog() == [("INFO", INJECT_LINE)]


def test_the_apex_form_underneath_is_blocked_and_left_untouched(form, run, modlog):
    async def scenario():
        await form.evaluate("__zv.reset()")
        before = await form.evaluate("__zv.state()")
        task = await start(vc.fCtPopUpHtml(form), form)
        box = await form.locator("#P1_NOME").bounding_box()
        hit = await form.evaluate(
            "([x, y]) => document.elementFromPoint(x, y).closest('#final-modal-overlay') !== null",
            [box["x"] + box["width"] / 2, box["y"] + box["height"] / 2])
        await form.click("#modal-ok-btn")
        await finished(task)
        return before, hit, await form.evaluate("[__zv.state(), __zv.calls, __zv.events, __zv.da]")

    before, hit, (state, calls, events, da) = run(scenario())
    assert hit  # a click aimed at the item lands on the overlay
    assert {k: state.get(k) for k in before} == before  # (a late item may have appeared)
    assert (calls, da) == ([], [])
    assert [e for e in events if e["target"] != "modal-ok-btn"] == []
