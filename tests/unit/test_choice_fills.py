"""Radio and check box fills on the recording page: the three ways (label click, input
check, page script), the unguarded first steps that reach the retry wrapper, the trace
lines, and the already-ticked check box that is left alone."""
import asyncio

import pytest

from fakepage import FakeHandle, TimeoutError
from scripts_of import TimelineLogger, script, timeline

SEL = "#P1_SEXO"
TARGET = "#P1_SEXO_1"
LABEL = "label[for='P1_SEXO_1']"

TRACE = [
    ("log", "warning", "fCtPreencCheckRadio -> Incio ---------------------------"),
    ("log", "warning", "fCtPreencCheckRadio -> Radio base_id: P1_SEXO"),
    ("log", "warning", "fCtPreencCheckRadio -> Radio indice: 1"),
    ("log", "warning", "fCtPreencCheckRadio -> Radio target_id: #P1_SEXO_1"),
    ("log", "warning", "fCtPreencCheckRadio -> Radio label_sel: label[for='P1_SEXO_1']"),
]
# Before the attempt: the trace, both locators, then the "Saida Fim" line.
PROLOGUE = TRACE + [
    ("locator", TARGET, {}),
    ("locator", LABEL, {}),
    ("log", "warning", "fCtPreencCheckRadio -> Saida Fim ---------------------------"),
]
CHECKS = [
    ("wait_for_selector", TARGET, {"state": "attached", "timeout": 5000}),
    ("count", TARGET, {}),
    ("is_enabled", TARGET, {}),
]
TICKED = ("evaluate", "checkbox_ticked", (TARGET,))
# The question whether the group is being refreshed, asked once its option was missing.
PROBE = ("evaluate", "item_refresh", ({"item": "P1_SEXO", "modo": "sondar", "depois": None},))
SELECTED = [
    ("log", "info", "fCtPreencCheckRadio -> Radio selecionado: #P1_SEXO_1"),
    ("log", "warning", "fCtPreencCheckRadio -> Saida 3 ---------------------------"),
]
LABEL_WAY = [
    ("count", LABEL, {}),
    ("first.wait_for", LABEL, {"state": "visible", "timeout": 2000}),
    ("first.scroll_into_view_if_needed", LABEL, {}),
    ("first.click", LABEL, {}),
]
CHECK_WAY = [
    ("count", LABEL, {}),
    ("first.wait_for", TARGET, {"state": "visible", "timeout": 2000}),
    ("first.scroll_into_view_if_needed", TARGET, {}),
    ("first.check", TARGET, {}),
]
TO_SCRIPT = [
    ("log", "warning", "fCtPreencCheckRadio -> Saida 4 except Exception pass ---------------------------"),
    ("log", "debug", "fCtPreencCheckRadio -> Elemento hidden, tentando via JS: #P1_SEXO_1"),
    ("evaluate", "radio_set", (TARGET,)),
]


@pytest.fixture
def tl(vc, page):
    lg = TimelineLogger(page)
    vc.gDebugDev = True
    vc.objfLog = lg
    return lg


@pytest.mark.parametrize("value", [None, "", "   ", "\t\n"])
def test_blank_value_touches_nothing(vc, tl, page, run, value):
    assert run(vc.fCtPreencCheckRadio(page, SEL, value)) is None
    assert page.ops == []


@pytest.mark.parametrize("value", [None, "", "  "])
def test_check_multiple_blank_value_logs_its_exit_only(vc, tl, page, run, value):
    assert run(vc.fCtPreencCheckMultiple(page, "#P1_CANAIS", value)) is None
    assert timeline(page) == [
        ("log", "warning", "fCtPreencCheckMultiple -> Inicio ---------------------------"),
        ("log", "warning", "fCtPreencCheckMultiple -> Saida 1 ---------------------------"),
    ]


def test_label_way(vc, tl, page, run):
    assert run(vc.fCtPreencCheckRadio(page, SEL, 1)) is None
    assert timeline(page) == PROLOGUE + CHECKS + [TICKED] + LABEL_WAY + SELECTED


def test_check_way_when_the_option_has_no_label(vc, tl, page, run):
    page.on("count", 0, selector=LABEL)
    run(vc.fCtPreencCheckRadio(page, SEL, 1))
    assert timeline(page) == PROLOGUE + CHECKS + [TICKED] + CHECK_WAY + SELECTED


def test_ticked_check_box_is_left_as_it_is(vc, tl, page, run):
    # A label click would untick it: nothing is clicked, and the option counts as selected.
    page.on("evaluate", True)
    run(vc.fCtPreencCheckRadio(page, SEL, 1))
    assert timeline(page) == PROLOGUE + CHECKS + [TICKED] + SELECTED


@pytest.mark.parametrize(
    "op, selector, no_label",
    [
        ("evaluate", None, False),  # reading the check box state
        ("count", LABEL, False),
        ("first.wait_for", LABEL, False),  # label hidden for 2000 ms
        ("first.scroll_into_view_if_needed", LABEL, False),
        ("first.click", LABEL, False),
        ("first.wait_for", TARGET, True),
        ("first.check", TARGET, True),
    ],
)
def test_click_way_failure_falls_back_to_the_script(vc, tl, page, run, op, selector, no_label):
    if no_label:
        page.on("count", 0, selector=LABEL)
    page.on(op, selector=selector, raises=TimeoutError("Timeout 2000ms exceeded."), times=1)
    assert run(vc.fCtPreencCheckRadio(page, SEL, 1)) is None
    tail = timeline(page)[len(PROLOGUE + CHECKS):]
    assert tail[-4:] == TO_SCRIPT + [
        ("log", "info", "fCtPreencCheckRadio -> Radio selecionado via JS: #P1_SEXO_1")
    ]
    assert not any(t[0] == "log" and "Saida 3" in t[2] for t in tail)
    assert tl.messages("error") == []


def test_total_failure_is_logged_and_dropped(vc, tl, page, run, no_sleep):
    page.on("first.wait_for", raises=TimeoutError("label hidden"))
    page.on("evaluate", selector=None, raises=RuntimeError("page closed"))
    assert run(vc.fCtPreencCheckRadio(page, SEL, 1)) is None
    tail = timeline(page)[len(PROLOGUE + CHECKS):]
    assert tail[-2:] == [
        ("evaluate", "radio_set", (TARGET,)),
        ("log", "error", "fCtPreencCheckRadio -> Falha total radio #P1_SEXO_1: page closed"),
    ]
    assert no_sleep == []  # one attempt only


def test_option_not_counted(vc, tl, page, run):
    page.on("count", 0, selector=TARGET)
    run(vc.fCtPreencCheckRadio(page, SEL, 1))
    assert timeline(page) == PROLOGUE + CHECKS[:2] + [
        ("log", "warning", "fCtPreencCheckRadio -> Radio nao encontrado: #P1_SEXO_1"),
        ("log", "warning", "fCtPreencCheckRadio -> Saida 1 ---------------------------"),
    ]


def test_disabled_option_is_not_clicked(vc, tl, page, run):
    page.on("is_enabled", False)
    run(vc.fCtPreencCheckRadio(page, SEL, 1))
    assert timeline(page) == PROLOGUE + CHECKS + [
        ("log", "warning", "fCtPreencCheckRadio -> Radio desabilitado: #P1_SEXO_1"),
        ("log", "warning", "fCtPreencCheckRadio -> Saida 2 ---------------------------"),
    ]


@pytest.mark.parametrize("fill", ["fCtPreencCheckRadio", "fCtPreencCheckMultiple"])
@pytest.mark.parametrize("failing", ["wait_for_selector", "count", "is_enabled"])
def test_unguarded_steps_reach_the_retry_wrapper(vc, tl, page, run, no_sleep, fill, failing):
    errors = [TimeoutError(f"attempt {i}") for i in (1, 2, 3)]
    page.on(failing, selector=TARGET, call=lambda s, k: (_ for _ in ()).throw(errors.pop(0)))
    with pytest.raises(TimeoutError) as caught:
        run(getattr(vc, fill)(page, SEL, 1))
    assert str(caught.value) == "attempt 3"
    assert no_sleep == [0.5, 0.5]
    assert tl.messages("warning")[-3:] == [
        "fCtRetry -> [RETRY 1/3] erro: attempt 1",
        "fCtRetry -> [RETRY 2/3] erro: attempt 2",
        "fCtRetry -> [RETRY 3/3] erro: attempt 3",
    ]
    ops = [t for t in timeline(page) if t[0] != "log"]
    assert [t[0] for t in ops].count("wait_for_selector") == 3
    # Neither way was tried; a missing option only had the page asked, once an attempt,
    # whether the group was being refreshed.
    asked = [PROBE] * 3 if failing == "wait_for_selector" else []
    assert [t for t in ops if t[0] == "evaluate"] == asked


def test_missing_option_of_a_group_being_refreshed_is_waited_for(vc, tl, page, run):
    page.on("wait_for_selector", raises=TimeoutError("not yet"), times=1)
    page.on("evaluate", call=lambda _sel, kw: 4 if kw["args"][0] == PROBE[2][0] else None)
    page.on("wait_for_function", FakeHandle(page, True))
    run(vc.fCtPreencCheckRadio(page, SEL, 1))
    assert timeline(page) == PROLOGUE + [
        CHECKS[0],
        PROBE,
        ("log", "info", "fCtPreencCheckRadio -> Item em atualizacao, aguardando: #P1_SEXO"),
        ("wait_for_function", None, {"arg": {"item": "P1_SEXO", "modo": "esperar", "depois": 4}, "polling": 100,
                                     "timeout": 30000, "script": script("item_refresh")}),
        ("handle.dispose", None, {}),
        ("log", "info", "fCtPreencCheckRadio -> Atualizacao do item terminada: #P1_SEXO"),
    ] + CHECKS + [TICKED] + LABEL_WAY + SELECTED


def test_missing_option_recovers_on_a_later_attempt(vc, tl, page, run, no_sleep):
    page.on("wait_for_selector", raises=TimeoutError("not yet"), times=2)
    run(vc.fCtPreencCheckRadio(page, SEL, 1))
    assert no_sleep == [0.5, 0.5]
    assert tl.messages("info") == ["fCtPreencCheckRadio -> Radio selecionado: #P1_SEXO_1"]


@pytest.mark.parametrize(
    "sel, value, target, label",
    [
        ("#P1_SEXO", " 2 ", "#P1_SEXO_2", "label[for='P1_SEXO_2']"),  # trimmed
        ("#P1_SEXO", 0, "#P1_SEXO_0", "label[for='P1_SEXO_0']"),  # 0 is not blank
        ("#P1_SEXO", 1.0, "#P1_SEXO_1.0", "label[for='P1_SEXO_1.0']"),  # text form
        ("##P1#_SEXO", "3", "#P1_SEXO_3", "label[for='P1_SEXO_3']"),  # every "#" goes
        ("#P1_CANAIS", "0:1", "#P1_CANAIS_0:1", "label[for='P1_CANAIS_0:1']"),  # used whole
    ],
)
def test_selectors_derived_from_group_and_value(vc, tl, page, run, sel, value, target, label):
    run(vc.fCtPreencCheckRadio(page, sel, value, 750))
    ops = timeline(page)
    assert ("locator", target, {}) in ops and ("locator", label, {}) in ops
    assert ("wait_for_selector", target, {"state": "attached", "timeout": 750}) in ops
    assert ("first.click", label, {}) in ops


def test_check_multiple_forwards_to_the_radio_fill(vc, tl, page, run):
    run(vc.fCtPreencCheckMultiple(page, SEL, 1, 1234))
    ops = timeline(page)
    assert ops[:2] == [
        ("log", "warning", "fCtPreencCheckMultiple -> Inicio ---------------------------"),
        ("log", "warning",
         "fCtPreencCheckMultiple -> Saida Fim -> Chamar -> fCtPreencCheckRadio ---------------------------"),
    ]
    rest = ops[2:]
    assert rest[: len(PROLOGUE)] == PROLOGUE
    assert rest[len(PROLOGUE)] == ("wait_for_selector", TARGET, {"state": "attached", "timeout": 1234})
    assert rest[-2:] == SELECTED


def test_check_multiple_uses_the_module_radio_fill(vc, tl, page, run):
    seen = []

    async def radio(*args):
        seen.append(args)

    vc.fCtPreencCheckRadio = radio
    run(vc.fCtPreencCheckMultiple(page, SEL, "2", 99))
    assert seen == [(page, SEL, "2", 99)]
    assert all(op == "log" for op, _, _ in page.ops)  # no page operation of its own


def test_debug_off_logs_nothing(vc, page, run):
    lg = TimelineLogger(page)
    vc.objfLog = lg
    vc.gDebugDev = False
    page.on("first.wait_for", raises=TimeoutError("hidden"))
    run(vc.fCtPreencCheckMultiple(page, SEL, 1))
    assert lg.lines == []
    assert ("evaluate", "radio_set", (TARGET,)) in timeline(page)


@pytest.mark.parametrize(
    "op, selector",
    [
        ("wait_for_selector", TARGET),
        ("evaluate", None),  # the state read, inside the click way
        ("first.wait_for", LABEL),
        ("first.click", LABEL),
    ],
)
def test_cancellation_passes_every_guard(vc, tl, page, run, no_sleep, op, selector):
    page.on(op, selector=selector, raises=asyncio.CancelledError())
    with pytest.raises(asyncio.CancelledError):
        run(vc.fCtPreencCheckRadio(page, SEL, 1))
    logged = [m for lv, m in tl.lines]
    assert not any("RETRY" in m or "Saida 4" in m or "via JS" in m for m in logged)
    assert no_sleep == []


def test_cancellation_in_the_script_way_is_not_logged_as_failure(vc, tl, page, run):
    page.on("first.wait_for", raises=TimeoutError("hidden"))
    page.on("evaluate", raises=asyncio.CancelledError(), call=None)
    page.on("evaluate", None, times=1)  # the state read answers; the script is cancelled
    with pytest.raises(asyncio.CancelledError):
        run(vc.fCtPreencCheckRadio(page, SEL, 1))
    assert tl.messages("error") == []
    assert timeline(page)[-1] == ("evaluate", "radio_set", (TARGET,))
