"""Popup LOV fills against the recording page: the screening of values, the trace lines, the
order of the attempt's steps, the three attempts and the error texts."""
import asyncio

import pytest

from fakepage import RecordingLogger, TimeoutError

SEL = "#P1_PROFISSAO"
BTN = "#P1_PROFISSAO_lov_btn"
LOAD_MORE = "button.js-load.a-GV-loadMoreButton"
FOUND = {"success": True, "foundId": "7", "foundDisp": "Sete"}
P = "fCtApexPreencPopupLovId -> "
D = "fCtApexPreencPopupLovDesc -> "


class TimelineLogger(RecordingLogger):
    """Also writes each line into the page's record, so lines and page steps share one order."""

    def __init__(self, page):
        super().__init__()
        self.page = page

    def _add(self, level, msg, **kw):
        super()._add(level, msg, **kw)
        self.page.ops.append(("log", level, msg))


@pytest.fixture
def tlog(vc, page):
    lg = TimelineLogger(page)
    vc.gDebugDev = True
    vc.objfLog = lg
    return lg


def search_returns(page, result):
    """The row search (the evaluate with an argument) returns `result`; the popup-closing
    script (no argument) returns True."""
    page.on("evaluate", call=lambda sel, kw: result if kw["args"] else True)


def steps(page, with_logs=False):
    out = []
    for op, sel, kw in page.ops:
        if op == "log":
            if with_logs:
                out.append((sel, kw))
        elif op == "evaluate":
            out.append(("search",) + tuple(kw["args"][0]) if kw["args"] else ("close",))
        elif op == "wait_for_timeout":
            out.append(("pause", kw["args"][0]))
        elif op == "wait_for_selector":
            out.append(("wait", kw["state"], kw["timeout"]))
        elif op == "wait_for_function":
            out.append(("idle", kw["timeout"]))
        elif op == "keyboard.press":
            out.append(("press", kw["args"][0]))
        elif op in ("locator", "locator.click"):
            out.append((op, sel))
        else:
            out.append((op, sel, kw))
    return out


def lov_id(vc, page, value, sel=SEL, **kw):
    return vc.fCtApexPreencPopupLovId(page, sel, value, **kw)


# ------------------------------------------------------------------ fill by id: screening

SKIPPED = [0, "0", "0.0", "00", " 0 ", "-0", 0.0, -0.0, False, None, "", "  ", "None", "null",
           "false", "undefined", " undefined\t"]


@pytest.mark.parametrize("value", SKIPPED)
def test_screened_out_values_touch_nothing_and_warn_even_without_debug(vc, page, run, value):
    vc.gDebugDev = False
    vc.objfLog = RecordingLogger()
    assert run(lov_id(vc, page, value)) is None
    assert page.ops == []
    assert vc.objfLog.lines == [
        ("warning", f"{P}Valor incorreto / Pular: campo='#P1_PROFISSAO' | valor={value!r}")]


class FloatFails:
    def __init__(self, error, text="X9"):
        self.error, self.text = error, text

    def __float__(self):
        raise self.error

    def __str__(self):
        return self.text

    def __repr__(self):
        return f"FloatFails({self.text!r})"


SEARCHED = [
    ("False", "False"),        # not a number, and the list is case-sensitive
    ("ABC", "ABC"),
    ("  7  ", "7"),
    (7, "7"),
    (12.0, "12.0"),            # searched with its decimal part
    (True, "True"),
    ("NULL", "NULL"),
    ("nan", "nan"),            # float("nan") != 0
    ("1e3", "1e3"),            # no numeric normalisation
    ([0], "[0]"),              # float() raises TypeError: judged by its text
    (FloatFails(ValueError("v")), "X9"),
    (FloatFails(TypeError("t")), "X9"),
]


@pytest.mark.parametrize("value, searched", SEARCHED)
def test_values_passing_the_screening_are_searched_as_their_trimmed_text(vc, page, run, value, searched):
    search_returns(page, FOUND)
    run(lov_id(vc, page, value))
    assert ("search", "P1_PROFISSAO", searched, LOAD_MORE) in steps(page)


@pytest.mark.parametrize("value", [FloatFails(TypeError("t"), " null "), FloatFails(ValueError("v"), "0.0")])
def test_fallback_rule_still_screens_the_invalid_texts(vc, page, run, value):
    vc.objfLog = RecordingLogger()
    run(lov_id(vc, page, value))
    assert page.ops == [] and len(vc.objfLog.lines) == 1


@pytest.mark.parametrize("sel", [None, "", "   ", "\t"])
def test_missing_or_blank_selector_skips_even_a_valid_value(vc, page, run, sel):
    vc.objfLog = RecordingLogger()
    run(lov_id(vc, page, "105", sel=sel))
    assert page.ops == []
    assert vc.objfLog.lines == [("warning", f"{P}Valor incorreto / Pular: campo={sel!r} | valor='105'")]


@pytest.mark.parametrize("error", [ZeroDivisionError("z"), RuntimeError("r"), KeyboardInterrupt()])
def test_other_errors_of_the_conversion_are_not_screened_away(vc, page, run, error):
    vc.objfLog = RecordingLogger()
    with pytest.raises(type(error)):
        run(lov_id(vc, page, FloatFails(error)))
    assert page.ops == [] and vc.objfLog.lines == []


def test_skip_warning_fails_while_there_is_no_logger(vc, page, run):
    vc.gDebugDev = False
    vc.objfLog = None
    with pytest.raises(AttributeError):
        run(lov_id(vc, page, 0))
    assert page.ops == []


# ------------------------------------------------------------------ fill by id: trace lines

TRACES = [
    ("  7  ", ["pWebSel       = '#P1_PROFISSAO'", "pDbCampoValue = '  7  '", "tipo          = str",
               "str()         = '7'", "float()   = 7.0"]),
    ("ABC", ["pWebSel       = '#P1_PROFISSAO'", "pDbCampoValue = 'ABC'", "tipo          = str",
             "str()         = 'ABC'", "float()   = ERRO conversão"]),
    (None, ["pWebSel       = '#P1_PROFISSAO'", "pDbCampoValue = None", "tipo          = NoneType",
            "str()         = 'None'", "float()   = ERRO conversão"]),
    (12.0, ["pWebSel       = '#P1_PROFISSAO'", "pDbCampoValue = 12.0", "tipo          = float",
            "str()         = '12.0'", "float()   = 12.0"]),
    (False, ["pWebSel       = '#P1_PROFISSAO'", "pDbCampoValue = False", "tipo          = bool",
             "str()         = 'False'", "float()   = 0.0"]),
    (7, ["pWebSel       = '#P1_PROFISSAO'", "pDbCampoValue = 7", "tipo          = int",
         "str()         = '7'", "float()   = 7.0"]),
    (FloatFails(ZeroDivisionError("z")), ["pWebSel       = '#P1_PROFISSAO'",
                                          "pDbCampoValue = FloatFails('X9')", "tipo          = FloatFails",
                                          "str()         = 'X9'", "float()   = ERRO conversão"]),
]


@pytest.mark.parametrize("value, lines", TRACES)
def test_debug_trace_comes_first_with_repr_texts(vc, log, page, run, value, lines):
    search_returns(page, FOUND)
    try:
        run(lov_id(vc, page, value))
    except ZeroDivisionError:
        pass
    assert log.lines[:5] == [("debug", P + line) for line in lines]
    assert len(log.messages("debug")) == 5


def test_trace_and_inner_lines_are_debug_only(vc, page, run):
    vc.gDebugDev = False
    vc.objfLog = RecordingLogger()
    search_returns(page, FOUND)
    page.on("wait_for_selector", raises=TimeoutError("t"))
    run(lov_id(vc, page, "ABC"))
    assert vc.objfLog.lines == []


def test_a_failing_trace_log_call_falls_back_once_and_then_fails(vc, page, run):
    class Flaky(RecordingLogger):
        def debug(self, msg, **kw):
            if "float()" in msg:
                raise OSError("disk full")
            super().debug(msg, **kw)

    vc.gDebugDev = True
    vc.objfLog = Flaky()
    with pytest.raises(OSError):
        run(lov_id(vc, page, "5"))
    assert page.ops == []


# ------------------------------------------------------------------ fill by id: the attempt

def test_success_line_by_line_and_step_by_step(vc, tlog, page, run):
    search_returns(page, FOUND)
    assert run(lov_id(vc, page, "  7  ", sel=" ##P1_PROFISSAO ")) is None
    got = steps(page, with_logs=True)
    assert got[5:] == [
        ("info", P + "Interno pWebSel       =  ##P1_PROFISSAO "),
        ("info", P + "Interno lWebSel       = P1_PROFISSAO"),
        ("info", P + "Interno consistiuOK   = True"),
        ("info", P + "Interno lDbCampoValue = '7' | tipo=str"),
        ("info", P + "Interno tipo          = str"),
        ("info", P + "Abrir LOV: #P1_PROFISSAO_lov_btn | valor: '7'"),
        ("locator", BTN),
        ("locator.click", BTN),
        ("pause", 1800),
        ("search", "P1_PROFISSAO", "7", LOAD_MORE),
        ("info", P + "Resultado: {'success': True, 'foundId': '7', 'foundDisp': 'Sete'}"),
        ("wait", "hidden", 5000),
        ("idle", 5000),
        ("pause", 300),
        ("pause", 1000),
    ]
    assert [lv for lv, _ in got[:5]] == ["debug"] * 5


def test_popup_still_open_after_the_choice_is_closed_with_escape(vc, log, page, run, no_sleep):
    search_returns(page, FOUND)
    page.on("wait_for_selector", raises=TimeoutError("Timeout 5000ms exceeded."))
    run(lov_id(vc, page, "7"))
    assert steps(page)[-7:] == [("search", "P1_PROFISSAO", "7", LOAD_MORE), ("wait", "hidden", 5000),
                                ("press", "Escape"), ("close",), ("idle", 5000), ("pause", 300),
                                ("pause", 1000)]
    assert no_sleep == [] and log.messages("error") == [] and log.messages("warning") == []


def test_close_wait_selector_ignores_hidden_dialogs(vc, page, run):
    search_returns(page, FOUND)
    run(lov_id(vc, page, "7"))
    sel = page.calls("wait_for_selector")[0][0]
    assert all(part.strip().endswith(":visible") for part in sel.split(","))


def test_skipped_result_ends_the_attempt_at_once(vc, log, page, run):
    search_returns(page, {"success": True, "skipped": True})
    run(lov_id(vc, page, "7"))
    assert steps(page)[-1] == ("search", "P1_PROFISSAO", "7", LOAD_MORE)


def test_load_more_selector_goes_to_the_script_and_timeout_changes_nothing(vc, page, run):
    search_returns(page, FOUND)
    run(vc.fCtApexPreencPopupLovId(pPage=page, pWebSel=SEL, pDbCampoValue="7", pTimeout=1,
                                   pLoadMoreSel="button.mais"))
    assert steps(page) == [("locator", BTN), ("locator.click", BTN), ("pause", 1800),
                           ("search", "P1_PROFISSAO", "7", "button.mais"), ("wait", "hidden", 5000),
                           ("idle", 5000), ("pause", 300), ("pause", 1000)]


def test_idle_wait_is_the_module_function_of_the_moment(vc, page, run):
    seen = []

    async def waiter(*args):
        seen.append(args)

    vc.fCtApexWaitStable = waiter
    search_returns(page, FOUND)
    run(lov_id(vc, page, "7"))
    assert seen == [(page,)]


NOT_FOUND = 'Item com data-id="999" nao encontrado'


@pytest.mark.parametrize("result, message", [
    ({"success": False, "error": NOT_FOUND}, NOT_FOUND),
    ({"success": False}, "Item nao encontrado na LOV"),
    ({"error": ""}, "Item nao encontrado na LOV"),
    ({}, "Item nao encontrado na LOV"),
])
def test_not_found_three_attempts_each_closing_its_popup(vc, tlog, page, run, no_sleep, result, message):
    search_returns(page, result)
    with pytest.raises(Exception) as info:
        run(lov_id(vc, page, "999"))
    assert type(info.value) is Exception and str(info.value) == message
    assert no_sleep == [0.5, 0.5]
    got = steps(page, with_logs=True)[10:]
    one = [("info", P + "Abrir LOV: #P1_PROFISSAO_lov_btn | valor: '999'"),
           ("locator", BTN), ("locator.click", BTN), ("pause", 1800),
           ("search", "P1_PROFISSAO", "999", LOAD_MORE),
           ("info", P + f"Resultado: {result}"),
           ("error", P + f"Error {message} | Campo: P1_PROFISSAO | Valor procurado: 999"),
           ("close",)]
    assert got == (one + [("warning", f"fCtRetry -> [RETRY 1/3] erro: {message}")]
                   + one + [("warning", f"fCtRetry -> [RETRY 2/3] erro: {message}")]
                   + one + [("warning", f"fCtRetry -> [RETRY 3/3] erro: {message}")])


def test_the_not_found_error_survives_a_failing_close(vc, page, run, no_sleep):
    def evaluate(sel, kw):
        if not kw["args"]:
            raise RuntimeError("close failed")
        return {"success": False, "error": NOT_FOUND}

    page.on("evaluate", call=evaluate)
    with pytest.raises(Exception, match=NOT_FOUND):
        run(lov_id(vc, page, "999"))


def search_raises(page, error):
    """The row search raises `error`; the popup-closing script still works."""
    def evaluate(sel, kw):
        if kw["args"]:
            raise error
        return True

    page.on("evaluate", call=evaluate)


@pytest.mark.parametrize("fail, closes", [
    (lambda page: page.on("locator.click", raises=TimeoutError("click")), False),
    (lambda page: page.on("wait_for_timeout", raises=RuntimeError("closed")), True),
    (lambda page: search_raises(page, RuntimeError("ReferenceError: apex is not defined")), True),
])
def test_errors_of_any_step_are_retried_and_an_opened_popup_is_closed(vc, log, page, run, no_sleep,
                                                                       fail, closes):
    search_returns(page, FOUND)
    fail(page)
    with pytest.raises(Exception):
        run(lov_id(vc, page, "7"))
    assert page.names().count("locator.click") == 3 and no_sleep == [0.5, 0.5]
    assert steps(page).count(("close",)) == (3 if closes else 0)
    assert len(log.messages("warning")) == 3


def test_a_failed_attempt_closes_its_popup_before_the_next_one_opens_it(vc, page, run, no_sleep):
    search_returns(page, FOUND)
    page.on("wait_for_timeout", raises=RuntimeError("closed"), times=1)
    run(lov_id(vc, page, "7"))
    assert steps(page)[:7] == [("locator", BTN), ("locator.click", BTN), ("pause", 1800), ("close",),
                               ("locator", BTN), ("locator.click", BTN), ("pause", 1800)]
    assert no_sleep == [0.5]


def test_a_failing_escape_fails_the_attempt(vc, page, run, no_sleep):
    search_returns(page, FOUND)
    page.on("wait_for_selector", raises=TimeoutError("t"))
    page.on("keyboard.press", raises=RuntimeError("closed"))
    with pytest.raises(RuntimeError, match="closed"):
        run(lov_id(vc, page, "7"))
    assert page.names().count("keyboard.press") == 3 and "wait_for_function" not in page.names()


@pytest.mark.parametrize("where, last", [
    ("wait_for_timeout", ("pause", 1800)),
    ("search", ("search", "P1_PROFISSAO", "7", LOAD_MORE)),
    ("wait_for_selector", ("wait", "hidden", 5000)),
    ("wait_for_function", ("idle", 5000)),
])
def test_cancellation_ends_the_fill_at_once(vc, log, page, run, no_sleep, where, last):
    search_returns(page, FOUND)
    if where == "search":
        search_raises(page, asyncio.CancelledError())
    else:
        page.on(where, raises=asyncio.CancelledError, times=1)
    with pytest.raises(asyncio.CancelledError):
        run(lov_id(vc, page, "7"))
    assert steps(page)[-1] == last
    assert no_sleep == [] and log.messages("warning") == []


# ------------------------------------------------------------------ fill by description

DSEL = "#P1_PROFISSAO"


@pytest.mark.parametrize("value", [None, "", "   ", "\n"])
def test_desc_blank_values_do_nothing_even_with_a_display(vc, log, page, run, value):
    assert run(vc.fCtApexPreencPopupLovDesc(page, DSEL, value, "Engenheiro")) is None
    assert page.ops == [] and log.lines == []


@pytest.mark.parametrize("value, display, val, disp", [
    ("Engenheiro", None, "Engenheiro", "Engenheiro"),
    ("101", "Engenheiro", "101", "Engenheiro"),
    ("101", "", "101", "101"),              # a falsy display falls back to the value
    (" 101 ", None, " 101 ", " 101 "),      # untrimmed
    (101, None, "101", "101"),              # a number reaches the page as text
    (12.0, None, "12.0", "12.0"),
    (101, 0, "101", "101"),
    ("101", 7, "101", "7"),
    (False, None, "False", "False"),        # not blank: its text is "False"
])
def test_desc_sends_item_id_value_text_and_display_text(vc, page, run, value, display, val, disp):
    page.on("evaluate", {"success": True})
    run(vc.fCtApexPreencPopupLovDesc(page, "#P1_#PROF#ISSAO", value, display))
    assert steps(page) == [("search", "P1_PROFISSAO", val, disp)]
    assert all(type(x) is str for x in page.ops[0][2]["args"][0])


@pytest.mark.parametrize("ret", [{"success": True, "foundId": "101", "foundDisp": "Engenheiro"}, None, {}])
def test_desc_success_or_empty_result_is_one_attempt_without_lines(vc, log, page, run, no_sleep, ret):
    page.on("evaluate", ret)
    assert run(vc.fCtApexPreencPopupLovDesc(page, DSEL, "Engenheiro", None, 1)) is None
    assert page.names() == ["evaluate"] and log.lines == [] and no_sleep == []


@pytest.mark.parametrize("ret, message", [
    ({"success": False, "error": D + 'Item nao encontrado: val="x", disp="x"'},
     D + 'Item nao encontrado: val="x", disp="x"'),
    ({"success": False, "error": D + "apex.item nao encontrado para: P1_PROFISSAO"},
     D + "apex.item nao encontrado para: P1_PROFISSAO"),
    ({"success": False}, D + "Erro desconhecido preenchimento LOV"),
    ({"foundId": "1"}, D + "Erro desconhecido preenchimento LOV"),
])
def test_desc_failures_three_attempts_then_the_error(vc, log, page, run, no_sleep, ret, message):
    page.on("evaluate", ret)
    with pytest.raises(Exception) as info:
        run(vc.fCtApexPreencPopupLovDesc(page, DSEL, "x"))
    assert type(info.value) is Exception and str(info.value) == message
    assert page.names() == ["evaluate"] * 3 and no_sleep == [0.5, 0.5]
    assert log.lines == [("warning", f"fCtRetry -> [RETRY {k}/3] erro: {message}") for k in (1, 2, 3)]


def test_desc_script_errors_are_retried_and_reach_the_caller(vc, page, run, no_sleep):
    page.on("evaluate", raises=RuntimeError("ReferenceError: apex is not defined"))
    with pytest.raises(RuntimeError, match="apex is not defined"):
        run(vc.fCtApexPreencPopupLovDesc(page, DSEL, "x"))
    assert page.names() == ["evaluate"] * 3


def test_desc_cancellation_is_not_retried(vc, log, page, run, no_sleep):
    page.on("evaluate", raises=asyncio.CancelledError)
    with pytest.raises(asyncio.CancelledError):
        run(vc.fCtApexPreencPopupLovDesc(page, DSEL, "x"))
    assert page.names() == ["evaluate"] and log.lines == [] and no_sleep == []
