"""The field type dispatch: which fill each configured type reaches, with which
arguments, and how a configuration it cannot handle is refused before any page work.
The fills are replaced in the module by recorders, so the tests also show that the
dispatch looks them up by name at each call."""
import pytest

FILLS = [
    "fCtPreencText", "fCtPreencTextArea", "fCtApexPreencDropDownList", "fCtPreencCheckRadio",
    "fCtPreencCheckMultiple", "fCtApexPreencPopupLovId", "fCtPreencDatepicker",
    "fCtApexPreencMultiSelect", "fCtPreencAutoComplete", "fCtApexPreencPopupLovDesc",
    "fCtPreencSwitch", "fCtPreencCheckbox",
]


class Recorder:
    """Stands in for every fill of the module; keeps (fill, args, kwargs)."""

    def __init__(self, vc, raises=None):
        self.calls = []
        self.raises = raises
        for name in FILLS:
            setattr(vc, name, self._fill(name))

    def _fill(self, name):
        async def fill(*args, **kwargs):
            self.calls.append((name, args, kwargs))
            if self.raises is not None:
                raise self.raises
        fill.__name__ = name
        return fill


@pytest.fixture
def fills(vc):
    return Recorder(vc)


@pytest.mark.parametrize("tipo, fill", [
    ("text", "fCtPreencText"),
    ("TEXT", "fCtPreencText"),
    ("textarea", "fCtPreencTextArea"),
    ("TextArea", "fCtPreencTextArea"),
    ("dropdownlist", "fCtApexPreencDropDownList"),
    ("DropDownList", "fCtApexPreencDropDownList"),
    ("radio", "fCtPreencCheckRadio"),
    ("checkboxmultiple", "fCtPreencCheckMultiple"),
    ("CheckBoxMultiple", "fCtPreencCheckMultiple"),
    ("date", "fCtPreencDatepicker"),
    ("Date", "fCtPreencDatepicker"),
    ("datepicker", "fCtPreencDatepicker"),
    ("DatePicker", "fCtPreencDatepicker"),
    ("multiselect", "fCtApexPreencMultiSelect"),
    ("autocomplete", "fCtPreencAutoComplete"),
    ("AutoComplete", "fCtPreencAutoComplete"),
    ("switch", "fCtPreencSwitch"),
    ("Switch", "fCtPreencSwitch"),
    ("checkbox", "fCtPreencCheckbox"),
    ("CheckBox", "fCtPreencCheckbox"),
])
def test_each_type_reaches_its_fill_with_page_selector_value_and_time_limit(vc, fills, page, run, tipo, fill):
    value = ["PT", "EN"]  # passed on as the very same object
    run(vc.fCtApexIdentTipoCampoPreenc(page, {"WebSel": "#P1_X", "ColTipo": tipo}, value, 20000))
    assert len(fills.calls) == 1
    name, args, kwargs = fills.calls[0]
    assert (name, kwargs) == (fill, {})
    assert args[0] is page and args[1] == "#P1_X" and args[2] is value and args[3] == 20000
    assert len(args) == 4
    assert page.ops == []


@pytest.mark.parametrize("tipo", ["popuplovid", "PopupLovId"])
@pytest.mark.parametrize("timeout", [[], [20000]])
def test_popup_lov_by_id_keeps_its_own_time_limit(vc, fills, page, run, tipo, timeout):
    run(vc.fCtApexIdentTipoCampoPreenc(page, {"WebSel": "#P1_PROFISSAO", "ColTipo": tipo}, "104", *timeout))
    assert fills.calls == [("fCtApexPreencPopupLovId", (page, "#P1_PROFISSAO", "104"), {})]


def test_default_time_limit_is_5000_and_none_is_passed_on(vc, fills, page, run):
    run(vc.fCtApexIdentTipoCampoPreenc(page, {"WebSel": "#P1_NOME", "ColTipo": "text"}, None))
    assert fills.calls == [("fCtPreencText", (page, "#P1_NOME", None, 5000), {})]


def test_other_keys_of_the_configuration_are_ignored_and_left_alone(vc, fills, page, run):
    config = {"WebSel": "#P1_NOME", "ColTipo": "text", "ColNome": "NOME", "Obs": 1}
    run(vc.fCtApexIdentTipoCampoPreenc(page, config, "Ana"))
    assert config == {"WebSel": "#P1_NOME", "ColTipo": "text", "ColNome": "NOME", "Obs": 1}


@pytest.mark.parametrize("tipo", [
    " text", "text ", "popuplovdesc", "PopupLovDesc", "select", "", "check box", "data",
])
def test_unsupported_type_raises_plain_exception_naming_the_type_as_configured(vc, fills, page, run, tipo):
    with pytest.raises(Exception) as err:
        run(vc.fCtApexIdentTipoCampoPreenc(page, {"WebSel": "#P1_X", "ColTipo": tipo}, "v"))
    assert type(err.value) is Exception
    assert err.value.args == ("fCtApexIdentTipoCampoPreenc -> Tipo campo nao suportado: " + tipo,)
    assert fills.calls == [] and page.ops == []


def test_unsupported_type_is_not_logged(vc, log, fills, page, run):
    with pytest.raises(Exception):
        run(vc.fCtApexIdentTipoCampoPreenc(page, {"WebSel": "#P1_X", "ColTipo": "nada"}, "v"))
    assert log.lines == []


@pytest.mark.parametrize("config, error, key", [
    ({"ColTipo": "text"}, KeyError, "WebSel"),
    ({"ColTipo": "nada"}, KeyError, "WebSel"),  # the selector is read before the type
    ({}, KeyError, "WebSel"),
    ({"WebSel": "#P1_X"}, KeyError, "ColTipo"),
    ({"WebSel": "#P1_X", "ColTipo": 3}, AttributeError, None),
    ({"WebSel": "#P1_X", "ColTipo": None}, AttributeError, None),
])
def test_incomplete_configuration_fails_before_any_page_work(vc, fills, page, run, config, error, key):
    with pytest.raises(error) as err:
        run(vc.fCtApexIdentTipoCampoPreenc(page, config, "v"))
    assert type(err.value) is error
    if key is not None:
        assert err.value.args == (key,)
    assert fills.calls == [] and page.ops == []


def test_fill_is_looked_up_at_each_call(vc, fills, page, run):
    config = {"WebSel": "#P1_NOME", "ColTipo": "text"}
    run(vc.fCtApexIdentTipoCampoPreenc(page, config, "a"))
    later = []

    async def replacement(*args):
        later.append(args)

    vc.fCtPreencText = replacement
    run(vc.fCtApexIdentTipoCampoPreenc(page, config, "b"))
    assert [c[1][2] for c in fills.calls] == ["a"]
    assert later == [(page, "#P1_NOME", "b", 5000)]


def test_error_of_the_fill_passes_through_unchanged(vc, page, run):
    boom = RuntimeError("falhou")
    Recorder(vc, raises=boom)
    with pytest.raises(RuntimeError) as err:
        run(vc.fCtApexIdentTipoCampoPreenc(page, {"WebSel": "#P1_X", "ColTipo": "radio"}, "1"))
    assert err.value is boom


def test_missing_fill_in_the_module_is_a_name_error(vc, page, run):
    del vc.fCtPreencAutoComplete
    with pytest.raises(NameError):
        run(vc.fCtApexIdentTipoCampoPreenc(page, {"WebSel": "#P1_X", "ColTipo": "autocomplete"}, "v"))
