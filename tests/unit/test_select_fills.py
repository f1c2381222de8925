"""Select list and multi-select fills on the recording page: browser selection first, the
APEX fallback after it fails, one guarded attempt, the log lines, and the multi-select's
single script with nothing after it."""
import asyncio

import pytest

from fakepage import FakeHandle, TimeoutError
from scripts_of import TimelineLogger, script, timeline

SEL = "#P1_PAIS"


@pytest.fixture
def tl(vc, page):
    lg = TimelineLogger(page)
    vc.gDebugDev = True
    vc.objfLog = lg
    return lg


def checks(sel=SEL, timeout=5000):
    return [
        ("locator", sel, {}),
        ("wait_for_selector", sel, {"state": "attached", "timeout": timeout}),
        ("count", sel, {}),
        ("first.wait_for", sel, {"state": "visible", "timeout": timeout}),
        ("is_enabled", sel, {}),
    ]


def probe(item_id="P1_PAIS"):
    """The question whether the list is being refreshed, asked once its option was missing."""
    return ("evaluate", "item_refresh", ({"item": item_id, "modo": "sondar", "depois": None},))


def refreshing(since):
    """An evaluate rule: the refresh question answers `since` (the list is being refreshed);
    every other script gives None."""
    return lambda _sel, kw: since if kw["args"][0] == {"item": "P1_PAIS", "modo": "sondar", "depois": None} else None


@pytest.mark.parametrize("value", [None, "", "  "])
def test_blank_value_touches_nothing(vc, tl, page, run, value):
    assert run(vc.fCtApexPreencDropDownList(page, SEL, value)) is None
    assert page.ops == []


@pytest.mark.parametrize("value, sent", [("BR", "BR"), (0, "0"), (" BR ", " BR ")])
def test_selected_by_the_browser(vc, tl, page, run, value, sent):
    assert run(vc.fCtApexPreencDropDownList(page, SEL, value, 700)) is None
    assert timeline(page) == checks(timeout=700) + [
        ("select_option", SEL, {"value": sent, "timeout": 2000}),
        ("log", "info", "fCtApexPreencDropDownList -> Dropdown selecionado (Playwright): #P1_PAIS"),
    ]


@pytest.mark.parametrize(
    "sel, item_id", [("#P1_PAIS", "P1_PAIS"), ("#P1#_PAIS", "P1_PAIS")]
)
@pytest.mark.parametrize("read_back, line", [
    (True, ("info", "fCtApexPreencDropDownList -> Dropdown selecionado (APEX): {sel}")),
    (None, ("info", "fCtApexPreencDropDownList -> Dropdown selecionado (APEX): {sel}")),  # no APEX
    (False, ("error", "fCtApexPreencDropDownList -> Valor nao aplicado (APEX): {sel} | valor:  XX")),
])
def test_apex_fallback_after_a_failed_selection(vc, tl, page, run, sel, item_id, read_back, line):
    page.on("select_option", raises=TimeoutError("Timeout 2000ms exceeded."))
    page.on("evaluate", read_back)
    assert run(vc.fCtApexPreencDropDownList(page, sel, " XX")) is None  # never raises
    assert timeline(page) == checks(sel) + [
        ("select_option", sel, {"value": " XX", "timeout": 2000}),
        probe(item_id),
        ("first.scroll_into_view_if_needed", sel, {}),
        ("evaluate", "select_set", ([item_id, " XX"],)),
        ("log", line[0], line[1].format(sel=sel)),
    ]


@pytest.mark.parametrize("read_back", [True, False, None])
def test_apex_fallback_writes_no_line_without_debug(vc, tl, page, run, read_back):
    vc.gDebugDev = False
    page.on("select_option", raises=TimeoutError("Timeout 2000ms exceeded."))
    page.on("evaluate", read_back)
    run(vc.fCtApexPreencDropDownList(page, SEL, "XX"))
    assert tl.lines == [] and page.names().count("evaluate") == 2  # the refresh question, the APEX set


def test_not_found(vc, tl, page, run):
    page.on("count", 0)
    run(vc.fCtApexPreencDropDownList(page, SEL, "BR"))
    assert timeline(page) == checks()[:3] + [
        ("log", "warning", "fCtApexPreencDropDownList -> Dropdown nao encontrado: #P1_PAIS"),
    ]


def test_disabled_list_is_left_alone(vc, tl, page, run):
    page.on("is_enabled", False)
    run(vc.fCtApexPreencDropDownList(page, SEL, "BR"))
    assert timeline(page) == checks() + [
        ("log", "warning", "fCtApexPreencDropDownList -> Dropdown desabilitado: #P1_PAIS"),
    ]


@pytest.mark.parametrize(
    "op", ["wait_for_selector", "count", "first.wait_for", "is_enabled",
           "first.scroll_into_view_if_needed", "evaluate"],
)
def test_failure_outside_the_selection_is_logged_once(vc, tl, page, run, no_sleep, op):
    page.on("select_option", raises=TimeoutError("no option"))
    page.on(op, raises=RuntimeError("Target closed"))
    assert run(vc.fCtApexPreencDropDownList(page, SEL, "BR")) is None
    assert [(lv, m) for lv, m in tl.lines] == [
        ("error", "fCtApexPreencDropDownList -> Falha ao selecionar dropdown #P1_PAIS: Target closed")
    ]
    assert no_sleep == []
    assert [t[0] for t in timeline(page)].count("wait_for_selector") == 1


def test_debug_off_logs_nothing(vc, page, run):
    lg = TimelineLogger(page)
    vc.objfLog = lg
    vc.gDebugDev = False
    page.on("select_option", raises=TimeoutError("no option"))
    run(vc.fCtApexPreencDropDownList(page, SEL, "XX"))
    assert lg.lines == []
    assert ("evaluate", "select_set", (["P1_PAIS", "XX"],)) in timeline(page)


def test_a_list_being_refreshed_is_selected_again_when_its_refresh_ended(vc, tl, page, run):
    page.on("select_option", raises=TimeoutError("no option"), times=1)
    page.on("evaluate", call=refreshing(2))
    page.on("wait_for_function", FakeHandle(page, True))
    run(vc.fCtApexPreencDropDownList(page, SEL, "MG"))
    assert timeline(page) == checks() + [
        ("select_option", SEL, {"value": "MG", "timeout": 2000}),
        probe(),
        ("log", "info", "fCtApexPreencDropDownList -> Item em atualizacao, aguardando: #P1_PAIS"),
        ("wait_for_function", None, {"arg": {"item": "P1_PAIS", "modo": "esperar", "depois": 2}, "polling": 100,
                                     "timeout": 30000, "script": script("item_refresh")}),
        ("handle.dispose", None, {}),
        ("log", "info", "fCtApexPreencDropDownList -> Atualizacao do item terminada: #P1_PAIS"),
        ("select_option", SEL, {"value": "MG", "timeout": 2000}),
        ("log", "info", "fCtApexPreencDropDownList -> Dropdown selecionado (Playwright): #P1_PAIS"),
    ]


def test_a_refresh_that_outlasts_its_bound_leaves_the_apex_fallback(vc, tl, page, run):
    page.on("select_option", raises=TimeoutError("no option"))
    page.on("wait_for_function", raises=TimeoutError("Timeout 30000ms exceeded."))
    page.on("evaluate", call=lambda _s, kw: 0 if isinstance(kw["args"][0], dict) else False)
    run(vc.fCtApexPreencDropDownList(page, SEL, "MG"))
    assert [n for n in page.names() if n != "log"][-3:] == ["wait_for_function", "first.scroll_into_view_if_needed", "evaluate"]
    assert tl.messages() == [
        "fCtApexPreencDropDownList -> Item em atualizacao, aguardando: #P1_PAIS",
        "fCtApexPreencDropDownList -> Item ainda em atualizacao apos 30000 ms: #P1_PAIS",
        "fCtApexPreencDropDownList -> Valor nao aplicado (APEX): #P1_PAIS | valor: MG",
    ]
    assert page.names().count("select_option") == 1  # not tried again


@pytest.mark.parametrize("op", ["select_option", "wait_for_selector", "evaluate"])
def test_cancellation_is_never_swallowed(vc, tl, page, run, no_sleep, op):
    if op == "evaluate":
        page.on("select_option", raises=TimeoutError("no option"))
    page.on(op, raises=asyncio.CancelledError())
    with pytest.raises(asyncio.CancelledError):
        run(vc.fCtApexPreencDropDownList(page, SEL, "BR"))
    assert tl.lines == [] and no_sleep == []
    if op == "select_option":  # the APEX fallback does not run after a cancellation
        assert timeline(page)[-1][0] == "select_option"


# ---------------------------------------------------------------- multi-select


@pytest.mark.parametrize(
    "sel, values, arg",
    [
        ("#P1_IDIOMAS", [1, "b"], ["P1_IDIOMAS", ["1", "b"]]),
        ("#P1_IDIOMAS", ("PT", "ES"), ["P1_IDIOMAS", ["PT", "ES"]]),
        ("#P1_IDIOMAS", "ab", ["P1_IDIOMAS", ["a", "b"]]),  # a text is iterated
        ("#P1#IDIOMAS", (v for v in [" x ", 2.5]), ["P1IDIOMAS", [" x ", "2.5"]]),
        ("#P1_IDIOMAS", [], ["P1_IDIOMAS", []]),
    ],
)
def test_multi_select_sends_one_script_and_nothing_else(vc, tl, page, run, sel, values, arg):
    assert run(vc.fCtApexPreencMultiSelect(page, sel, values, 3000)) is None
    assert timeline(page) == [("evaluate", "multi_select_set", (arg,))]
    assert tl.lines == []


@pytest.mark.parametrize("values", [None, 5])
def test_multi_select_not_iterable_raises_before_the_page(vc, tl, page, run, values):
    with pytest.raises(TypeError):
        run(vc.fCtApexPreencMultiSelect(page, "#P1_IDIOMAS", values))
    assert page.ops == []


def test_multi_select_error_of_an_element_text_raises_before_the_page(vc, tl, page, run):
    class Bad:
        def __str__(self):
            raise ValueError("no text")

    with pytest.raises(ValueError, match="no text"):
        run(vc.fCtApexPreencMultiSelect(page, "#P1_IDIOMAS", ["PT", Bad()]))
    assert page.ops == []


@pytest.mark.parametrize("exc", [RuntimeError("apex is not defined"), asyncio.CancelledError()])
def test_multi_select_script_error_reaches_the_caller(vc, tl, page, run, exc):
    page.on("evaluate", raises=exc)
    with pytest.raises(type(exc)):
        run(vc.fCtApexPreencMultiSelect(page, "#P1_IDIOMAS", ["PT"]))
    assert len(page.ops) == 1 and tl.lines == []
