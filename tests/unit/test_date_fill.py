"""Date picker fill on the recording page: order of the checks, the value handed over as
text unchanged, one guarded attempt whatever fails, and the log lines."""
import asyncio

import pytest

from fakepage import TimeoutError
from scripts_of import TimelineLogger, timeline

SEL = "#P1_DATA_NASC"


@pytest.fixture
def tl(vc, page):
    lg = TimelineLogger(page)
    vc.gDebugDev = True
    vc.objfLog = lg
    return lg


def steps(timeout=5000):
    return [
        ("locator", SEL, {}),
        ("wait_for_selector", SEL, {"state": "attached", "timeout": timeout}),
        ("count", SEL, {}),
        ("first.wait_for", SEL, {"state": "visible", "timeout": timeout}),
        ("is_enabled", SEL, {}),
        ("first.scroll_into_view_if_needed", SEL, {}),
    ]


@pytest.mark.parametrize("value", [None, "", "  ", "\n"])
def test_blank_value_touches_nothing(vc, tl, page, run, value):
    assert run(vc.fCtPreencDatepicker(page, SEL, value)) is None
    assert page.ops == []


@pytest.mark.parametrize(
    "value, sent",
    [
        ("15/03/1985", "15/03/1985"),
        ("1985-03-15", "1985-03-15"),  # no reformatting
        (" 15/03/1985 ", " 15/03/1985 "),  # untrimmed
        (19850315, "19850315"),  # text form
    ],
)
def test_value_set_as_text(vc, tl, page, run, value, sent):
    assert run(vc.fCtPreencDatepicker(page, SEL, value, 900)) is None
    assert timeline(page) == steps(900) + [
        ("evaluate", "date_set", ([SEL, sent],)),
        ("log", "info", "fCtPreencDatepicker -> Datepicker preenchido: #P1_DATA_NASC"),
    ]


def test_not_found(vc, tl, page, run):
    page.on("count", 0)
    run(vc.fCtPreencDatepicker(page, SEL, "01/01/2000"))
    assert timeline(page) == steps()[:3] + [
        ("log", "warning", "fCtPreencDatepicker -> Datepicker nao encontrado: #P1_DATA_NASC"),
    ]


def test_disabled_item_is_not_written(vc, tl, page, run):
    page.on("is_enabled", False)
    run(vc.fCtPreencDatepicker(page, SEL, "01/01/2000"))
    assert timeline(page) == steps()[:5] + [
        ("log", "warning", "fCtPreencDatepicker -> Datepicker desabilitado: #P1_DATA_NASC"),
    ]


@pytest.mark.parametrize(
    "op", ["wait_for_selector", "count", "first.wait_for", "is_enabled",
           "first.scroll_into_view_if_needed", "evaluate"],
)
def test_any_failure_is_logged_once_and_dropped(vc, tl, page, run, no_sleep, op):
    page.on(op, raises=TimeoutError("Timeout 5000ms exceeded."))
    assert run(vc.fCtPreencDatepicker(page, SEL, "01/01/2000")) is None
    assert [m for lv, m in tl.lines] == [
        "fCtPreencDatepicker -> Falha ao preencher datepicker #P1_DATA_NASC: Timeout 5000ms exceeded."
    ]
    assert tl.messages("error") == [m for lv, m in tl.lines]
    assert no_sleep == []
    assert [t[0] for t in timeline(page)].count("wait_for_selector") == 1


def test_debug_off_logs_nothing(vc, page, run):
    lg = TimelineLogger(page)
    vc.objfLog = lg
    vc.gDebugDev = False
    page.on("evaluate", raises=TimeoutError("x"))
    run(vc.fCtPreencDatepicker(page, SEL, "01/01/2000"))
    assert lg.lines == []


@pytest.mark.parametrize("op", ["wait_for_selector", "first.wait_for", "evaluate"])
def test_cancellation_reaches_the_caller(vc, tl, page, run, no_sleep, op):
    page.on(op, raises=asyncio.CancelledError())
    with pytest.raises(asyncio.CancelledError):
        run(vc.fCtPreencDatepicker(page, SEL, "01/01/2000"))
    assert tl.lines == [] and no_sleep == []


@pytest.mark.parametrize("debug", [True, False])
def test_a_picker_the_script_finds_disabled_is_left_alone(vc, tl, page, run, debug):
    # a 22.2+ picker's element always looks enabled: the date-set script asks the item
    vc.gDebugDev = debug
    page.on("evaluate", "disabled")
    assert run(vc.fCtPreencDatepicker(page, SEL, "01/01/2000")) is None
    assert timeline(page) == steps() + [("evaluate", "date_set", ([SEL, "01/01/2000"],))] + (
        [("log", "warning", "fCtPreencDatepicker -> Datepicker desabilitado: #P1_DATA_NASC")] if debug else [])
    assert page.names().count("evaluate") == 1  # one attempt
