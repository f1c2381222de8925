"""Generated mappings and data of every shape against the recording page: wrong types,
missing keys, records that are not dictionaries, nested sections, unicode keys and values,
huge lists, caller objects that misbehave. Whatever comes in, a call ends (no hang, no
crash) either normally or with one of the errors the fills and the form are known to give:

- the host's TypeError, KeyError and AttributeError for shapes the code cannot read
  (iterating a number, indexing a text, a missing "WebSel", ...), and OverflowError from
  the popup LOV fill's numeric screening of a number too large for a float;
- the dispatcher's "Tipo campo nao suportado" error and the popup LOV fills' not-found
  errors (plain Exception with their texts);
- the page's own error, after the retries, from the fills that let it through;
- SystemExit(1) from a grid cell that fails;
- an error raised by the caller's own object (its str()), unchanged.

Examples per test: 200, or ZV_FUZZ_EXAMPLES (make fuzz runs 10,000 each and prints the
counts with --hypothesis-show-statistics).
"""
import asyncio
import os

import pytest
from hypothesis import HealthCheck, Phase, given, settings
from hypothesis import strategies as st

from fakepage import FakePage, RecordingLogger, TimeoutError
from scripts_of import script_name

EXAMPLES = int(os.environ.get("ZV_FUZZ_EXAMPLES", "200"))
FUZZ = settings(max_examples=EXAMPLES, deadline=None, database=None, print_blob=True,
                phases=[Phase.explicit, Phase.reuse, Phase.generate, Phase.shrink],
                suppress_health_check=[HealthCheck.function_scoped_fixture, HealthCheck.too_slow,
                                       HealthCheck.data_too_large])
LIMIT = 30  # seconds for one example; only a hang comes near it

SECTIONS = ["Representantes", "Titulares", "Beneficiarios"]
KINDS = ["text", "textarea", "dropdownlist", "radio", "checkboxmultiple", "popuplovid", "date",
         "datepicker", "multiselect", "autocomplete", "popuplovdesc", "grid"]
KNOWN_MESSAGES = (
    "fCtApexIdentTipoCampoPreenc -> Tipo campo nao suportado: ",
    "fCtApexPreencPopupLovDesc -> ",
    "Item com data-id=",
    "Item nao encontrado na LOV",
)


# --------------------------------------------------------------- misbehaving caller objects

class Boom(Exception):
    """What the caller's own misbehaving objects raise."""


class Unprintable:
    def __str__(self):
        raise Boom("str")

    def __repr__(self):
        return "Unprintable()"


class OddText(str):
    """A text whose text form is itself and whose strip() answers a number."""

    def __str__(self):
        return self

    def strip(self, *args):
        return 0


class LoudEquals:
    """Compares equal to nothing and raises while being compared."""

    def __eq__(self, other):
        raise Boom("eq")

    __hash__ = object.__hash__


# ----------------------------------------------------------------------------- strategies

hostile_text = st.one_of(
    st.sampled_from(["", " ", "0", "0.0", "None", "null", "false", "undefined", "1", " 7 ", "#", "##a#",
                     "'\"`${x}</script><img src=x onerror=alert(1)>", "a\x00b", "😀👨‍👩‍👧", "مرحبا\u202e"]),
    st.integers(1_000, 100_000).map(lambda n: "x" * n),
)
scalars = st.one_of(
    st.none(), st.booleans(), st.integers(), st.just(10 ** 400), st.floats(), st.text(),
    hostile_text, st.binary(max_size=8),
)
odd = st.sampled_from([Unprintable(), OddText("  "), OddText("abc"), LoudEquals(), object(), (1, 2), {1, 2}])
huge_list = st.integers(1_000, 60_000).map(lambda n: list(range(n)))
nested = st.recursive(
    st.one_of(scalars, odd),
    lambda inner: st.one_of(st.lists(inner, max_size=5), st.dictionaries(st.text(max_size=5), inner, max_size=5)),
    max_leaves=12,
)
# Mostly small values (a misbehaving object about one time in five), now and then a huge list.
values = st.integers(0, 19).flatmap(lambda n: huge_list if n == 0 else odd if n < 5 else nested)
keys = st.one_of(st.text(max_size=8), hostile_text, st.sampled_from(SECTIONS + ["RepAtivarPreenc"]), st.integers())
kinds = st.one_of(
    st.sampled_from(KINDS).flatmap(lambda k: st.sampled_from([k, k.upper(), k.title(), " " + k])),
    scalars,
)
selectors = st.one_of(st.sampled_from(["#P1_NOME", "#P1_SEXO", "#A#B", "", "  "]), st.text(max_size=10), scalars)


@st.composite
def field_configs(draw):
    """A field configuration: usually a dictionary with some of its keys, sometimes not."""
    if draw(st.integers(0, 9)) == 0:
        return draw(values)
    cfg = {}
    if draw(st.integers(0, 9)):
        cfg["WebSel"] = draw(selectors)
    if draw(st.integers(0, 9)):
        cfg["ColTipo"] = draw(kinds)
    if draw(st.booleans()):
        cfg.update(draw(st.dictionaries(keys, values, max_size=2)))
    return cfg


def grid_section(add, save):
    return st.builds(
        lambda cols, a, s, order: dict(sorted({**cols, **({add: a} if a is not None else {}),
                                                **({save: s} if s is not None else {})}.items(),
                                              key=lambda kv: order.index(kv[0]) if kv[0] in order else 0)),
        st.dictionaries(keys, field_configs(), max_size=4),
        st.one_of(st.none(), st.builds(lambda sel: {"WebSel": sel}, selectors), values),
        st.one_of(st.none(), st.builds(lambda sel: {"WebSel": sel}, selectors), values),
        st.permutations([add, save]),
    )


mappings = st.one_of(
    st.dictionaries(
        keys,
        st.one_of(field_configs(), grid_section("TitInserir", "TitGravar"),
                  grid_section("BenInserir", "BenGravar"), st.dictionaries(keys, field_configs(), max_size=3)),
        max_size=8,
    ),
    values,
)
records = st.one_of(st.dictionaries(keys, values, max_size=5), values)
record_lists = st.one_of(st.lists(records, max_size=4), values, huge_list.map(lambda l: [{}] * (len(l) // 100)))


@st.composite
def form_data(draw):
    if draw(st.integers(0, 9)) == 0:
        return draw(values)
    data = draw(st.dictionaries(keys, values, max_size=6))
    for key, strategy in [("RepAtivarPreenc", st.sampled_from([1, 1.0, True, 0, "1", None])),
                          ("Representantes", records), ("Titulares", record_lists),
                          ("Beneficiarios", record_lists)]:
        if draw(st.integers(0, 3)):
            data[key] = draw(strategy)
    return data


page_kinds = st.sampled_from(["works", "times out", "not found"])


# --------------------------------------------------------------------------- the harness

def make_page(kind):
    """The recording page: every operation works; or every wait times out; or the page
    scripts find nothing (the LOV scripts answer not-found)."""
    page = FakePage()
    page.ops = Discard()

    def evaluate(_, kw):
        name = script_name(kw["script"])
        if name in ("lov_id", "lov_desc"):
            if kind == "not found":
                return {"success": False, "error": "Item com data-id=\"x\" nao encontrado"}
            return {"success": True, "foundId": "1", "foundDisp": "um"}
        return None

    page.on("evaluate", call=evaluate)
    if kind == "times out":
        for op in ("wait_for_selector", "first.wait_for", "wait_for_function", "select_option"):
            page.on(op, raises=TimeoutError)  # a fresh error each time
    return page


class Discard(list):
    """A record that keeps nothing: huge lists make many operations."""

    def append(self, item):
        pass


class Factory:
    """The module's logger factory replaced: every controller gets a recording logger (or
    none in normal mode), so no file is written while fuzzing."""

    def __init__(self):
        self.logger = RecordingLogger()

    def fLog(self, **kw):
        return self.logger if kw.get("pDebugDev") else RecordingLogger()


def allowed(exc):
    if isinstance(exc, SystemExit):
        return exc.code == 1
    if type(exc) is Exception:
        return str(exc).startswith(KNOWN_MESSAGES)
    return isinstance(exc, (TypeError, KeyError, AttributeError, OverflowError, TimeoutError, Boom))


def ends_as_known(coro_fn):
    """Runs one call (made inside the loop) to its end; returns what came out."""

    async def main():
        return await asyncio.wait_for(coro_fn(), LIMIT)

    try:
        asyncio.run(main())
    except asyncio.TimeoutError:
        raise AssertionError("a call did not end")
    except BaseException as e:  # noqa: BLE001 - every kind is judged below
        if isinstance(e, (KeyboardInterrupt, GeneratorExit)) or not allowed(e):
            raise AssertionError(f"unexpected {type(e).__name__}: {e!r}"[:2000]) from e
        return e
    return None


@pytest.fixture
def fuzz_vc(vc, no_sleep):
    """The module with sleeps recorded only and a logger factory that writes nothing."""
    vc.VexoFuncoes = Factory()
    return vc


# -------------------------------------------------------------------------------- the tests

@FUZZ
@given(mapping=mappings, data=form_data(), debug=st.booleans(), kind=page_kinds)
def test_whole_form_fill(fuzz_vc, mapping, data, debug, kind):
    vc = fuzz_vc
    page = make_page(kind)
    ends_as_known(lambda: vc.VexoControleApex(page, debug).fCtPreencTodoForm(mapping, data))


@FUZZ
@given(section=st.one_of(grid_section("TitInserir", "TitGravar"), grid_section("BenInserir", "BenGravar"),
                         mappings),
       rows=record_lists, which=st.sampled_from(["fPreencGridTitular", "fPreencGridBeneficiario",
                                                 "fCtApexPreencRepres"]),
       debug=st.booleans(), kind=page_kinds)
def test_sections_alone(fuzz_vc, section, rows, which, debug, kind):
    vc = fuzz_vc
    page = make_page(kind)
    ends_as_known(lambda: getattr(vc.VexoControleApex(page, debug), which)(section, rows))


PRIMITIVES = ["fCtPreencText", "fCtPreencTextArea", "fCtPreencAutoComplete", "fCtPreencCheckRadio",
              "fCtPreencCheckMultiple", "fCtPreencDatepicker", "fCtApexPreencDropDownList",
              "fCtApexPreencMultiSelect", "fCtApexPreencPopupLovDesc", "fCtApexPreencPopupLovId",
              "fCtApexWaitStable", "fCtPopUpHtml"]


@FUZZ
@given(name=st.sampled_from(PRIMITIVES), sel=selectors, value=values, extra=values,
       debug=st.booleans(), kind=page_kinds)
def test_each_fill_with_any_value(fuzz_vc, name, sel, value, extra, debug, kind):
    vc = fuzz_vc
    page = make_page(kind)
    vc.VexoControleApex(page, debug)
    fill = getattr(vc, name)
    if name == "fCtApexWaitStable":
        call = lambda: fill(page, extra)  # noqa: E731
    elif name == "fCtPopUpHtml":
        call = lambda: fill(page, value, extra)  # noqa: E731
    elif name == "fCtApexPreencPopupLovDesc":
        call = lambda: fill(page, sel, value, extra)  # noqa: E731
    else:
        call = lambda: fill(page, sel, value)  # noqa: E731
    ends_as_known(call)


@FUZZ
@given(config=field_configs(), value=values, debug=st.booleans(), kind=page_kinds,
       retries=st.one_of(st.integers(), st.just(10 ** 30), st.just(-(10 ** 30)), scalars),
       outcome=st.sampled_from(["ok", "fails"]))
def test_single_field_dispatch_and_retry(fuzz_vc, config, value, debug, kind, retries, outcome):
    vc = fuzz_vc
    page = make_page(kind)
    ctl = vc.VexoControleApex(page, debug)
    ends_as_known(lambda: ctl.fCtPreencUmCampo(config, value))

    calls = []

    async def step():
        calls.append(1)
        if outcome == "fails":
            raise Boom("step")
        return "done"

    if outcome == "fails" and isinstance(retries, int) and retries > 50:
        retries = 50  # a step that always fails is tried as often as asked: keep it finite
    got = ends_as_known(lambda: vc.fCtRetry(step, retries))
    if isinstance(retries, int) and outcome == "ok":
        # a step that succeeds runs once and ends the call, whatever the count
        assert got is None and len(calls) == (1 if retries > 0 else 0)
    elif isinstance(retries, int) and retries > 0:
        # the last attempt's error comes out after exactly the attempts asked for
        assert isinstance(got, Boom) and len(calls) == retries
    elif isinstance(retries, int):
        assert got is None and calls == []


# ------------------------------------------------------------- what the generator turned up

@pytest.mark.parametrize("fill", ["fCtPreencText", "fCtPreencCheckRadio", "fCtPreencDatepicker",
                                  "fCtApexPreencDropDownList", "fCtApexPreencPopupLovDesc",
                                  "fCtApexPreencPopupLovId"])
def test_text_whose_strip_answers_no_text_is_judged_as_python_would(fuzz_vc, fill):
    # str(v).strip() == "" is false when strip() answers 0: the value is not blank (and, for
    # the popup LOV, not a placeholder), so the fill goes to the page; a blank one never does.
    page = FakePage()
    page.on("evaluate", {"success": True, "foundId": "1", "foundDisp": "um"})
    asyncio.run(getattr(fuzz_vc, fill)(page, "#P1_X", OddText("  ")))
    assert page.ops
