"""fCtMapearPagina's decisions against a fake page that answers its two scripts with the facts of
chosen items: the widget kind from APEX's item_type and from the markup, the items left out and
why, the data columns and the data template, the row editors and the page's problems."""
import asyncio

import pytest

from conferencia_pagina import script_name
from ziveviver import vexoconferencia as cf


def item(id_, **kw):
    """The facts ler_itens.js gives for one visible, enabled text field."""
    facts = {"id": id_, "itemType": None, "tag": "input", "type": "text", "cls": "text_field apex-item-text",
             "multiple": False, "format": None, "options": 0, "optionType": "", "checked": [],
             "hiddenValue": False, "lovButton": False, "displayOnly": False, "readonly": False,
             "disabled": False, "visible": True, "label": "", "value": "", "editor": -1}
    facts.update(kw)
    return facts


class PageFacts:
    def __init__(self, items, editors=(), apex=True, login=False, ready=True):
        self.answers = {"esperar_pagina": {"ready": ready, "apex": apex},
                        "ler_itens": {"apex": apex, "version": "24.2.0" if apex else None, "registry": apex,
                                      "login": login, "url": "http://x/f", "title": "F", "items": list(items),
                                      "editors": list(editors)}}
        self.scripts = []

    async def evaluate(self, script, *args):
        await asyncio.sleep(0)
        name = script_name(script)
        self.scripts.append((name, args[0] if args else None))
        return self.answers[name]


def mapear(page, *args):
    return asyncio.run(cf.fCtMapearPagina(page, *args))


GROUP = {"tag": "div", "type": "", "options": 3}
KINDS = [
    # APEX's item_type decides where it can
    ({"itemType": "TEXTAREA", "tag": "textarea", "type": ""}, "textarea"),
    ({"itemType": "select", "tag": "select", "type": "", "multiple": True}, "multiselect"),
    ({"itemType": "SELECT", "tag": "select", "type": ""}, "dropdownlist"),
    ({"itemType": "RADIO_GROUP", **GROUP, "optionType": "radio"}, "radio"),
    ({"itemType": "CHECKBOX_GROUP", **GROUP, "optionType": "checkbox"}, "checkboxmultiple"),
    ({"itemType": "DATE_PICKER", "tag": "a-date-picker", "type": ""}, "datepicker"),
    ({"itemType": "POPUP_KEY_LOV", "hiddenValue": True}, "popuplovid"),
    ({"itemType": "POPUP_LOV", "hiddenValue": True}, "popuplovid"),
    ({"itemType": "AUTOCOMPLETE"}, "autocomplete"),
    # TEXT goes to the markup: a 20.x date picker and the autocomplete are TEXT items
    ({"itemType": "TEXT", "cls": "datepicker apex-item-text apex-item-datepicker hasDatepicker"}, "datepicker"),
    ({"itemType": "TEXT", "cls": "text_field apex-item-text apex-item-autocomplete"}, "autocomplete"),
    ({"itemType": "NUMBER", "type": "number"}, "text"),
    # APEX 24.2's item types
    ({"itemType": "SINGLE_CHECKBOX", "type": "checkbox"}, "checkbox"),
    ({"itemType": "CHECKBOX", "type": "checkbox", "cls": "apex-item-yes-no"}, "switch"),
    ({"itemType": "SEARCHABLE_SELECT", "tag": "a-select", "type": ""}, "dropdownlist"),
    ({"itemType": "SEARCHABLE_SELECT", "tag": "a-select", "type": "", "multiple": True}, "multiselect"),
    ({"tag": "a-select", "type": ""}, "dropdownlist"),
    ({"type": "checkbox", "cls": "apex-item-single-checkbox"}, "checkbox"),
    # the markup alone (no item_type: 20.x without the registry, or APEX does not know the item)
    ({"tag": "oj-input-date", "type": "", "cls": "apex-item-datepicker-jet"}, "datepicker"),
    ({"tag": "div", "type": "", "cls": "radio_group apex-item-group apex-item-radio", "options": 2}, "radio"),
    ({"tag": "fieldset", "type": "", "options": 2, "optionType": "checkbox"}, "checkboxmultiple"),
    ({"cls": "apex-item-text apex-item-popup-lov", "hiddenValue": True}, "popuplovid"),
    ({"tag": "select", "type": "", "multiple": True}, "multiselect"),
    ({"tag": "textarea", "type": "", "cls": "textarea apex-item-textarea"}, "textarea"),
    ({"type": "email"}, "text"),
]
LEFT_OUT = [
    ({"itemType": "SHUTTLE", "tag": "div", "type": ""}, "lista de transferência (shuttle)"),
    ({"itemType": "RICH_TEXT_EDITOR", "tag": "textarea", "type": ""}, "editor de texto formatado"),
    ({"itemType": "TEXTAREA", "tag": "a-rich-text-editor", "type": ""}, "editor de texto formatado"),
    ({"itemType": "FILE_UPLOAD", "type": "file"}, "carregamento de ficheiro"),
    ({"itemType": "TEXT", "type": "file"}, "carregamento de ficheiro"),
    ({"itemType": "COLOR_PICKER"}, "seletor de cor"),
    ({"type": "color"}, "seletor de cor"),
    ({"itemType": "CHECKBOX", "type": "checkbox"}, "caixa de seleção única"),
    ({"itemType": "COMBOBOX"}, "caixa de combinação (combobox)"),
    ({"itemType": "POPUP_LOV"}, "lista popup sem valor de retorno (sem P1_X_HIDDENVALUE)"),
    ({"cls": "apex-item-popup-lov"}, "lista popup sem valor de retorno (sem P1_X_HIDDENVALUE)"),
    ({"tag": "div", "type": "", "cls": "apex-item-radio"}, "grupo de opções sem as opções P1_X_0, P1_X_1, …"),
    ({"tag": "span", "type": "", "cls": ""}, "elemento <span> que nenhum preenchimento sabe preencher"),
    ({"itemType": "HIDDEN", "type": "hidden"}, "item oculto"),
    ({"type": "hidden", "displayOnly": True}, "só de exibição"),
    ({"itemType": "DISPLAY_SAVES_STATE"}, "só de exibição"),
    ({"readonly": True}, "só de leitura"),
    ({"disabled": True}, "desabilitado"),
    ({"visible": False}, "não está visível"),
]


@pytest.mark.parametrize("facts, kind", KINDS, ids=lambda v: v if isinstance(v, str) else None)
def test_the_widget_kind_comes_from_item_type_then_the_markup(facts, kind):
    out = mapear(PageFacts([item("P1_X", **facts)]))
    assert out["mapa"] == {"X": {"WebSel": "#P1_X", "ColTipo": kind}}
    assert out["itens"][0]["destino"] == "mapa" and out["problema"] is None


@pytest.mark.parametrize("facts, why", LEFT_OUT, ids=lambda v: v if isinstance(v, str) else None)
def test_items_no_fill_can_take_are_reported_not_mapped(facts, why):
    out = mapear(PageFacts([item("P1_X", **facts), item("P1_Y")]))
    assert list(out["mapa"]) == ["Y"] and "X" not in out["dados"]
    assert (out["itens"][0]["destino"], out["itens"][0]["motivo"]) == ("fora", why)


def test_columns_values_labels_and_formats_in_page_order():
    page = PageFacts([
        item("P10_NOME", label="Nome", value="Ana"),
        item("P0_NOME", value=None),  # a global page item: same name, so a suffix
        item("Titulares"),  # a column may not take a section key's name
        item("P10_DT", itemType="DATE_PICKER", tag="a-date-picker", type="", format="DD-MON-YYYY", value="01-JAN-2024"),
        item("P10_SEXO", itemType="RADIO_GROUP", **GROUP, checked=[2]),
        item("P10_CANAIS", itemType="CHECKBOX_GROUP", **GROUP),
        item("P10_IDIOMAS", itemType="SELECT", tag="select", type="", multiple=True, value=["PT", "EN"]),
        item("P10_TAGS", tag="select", type="", multiple=True, value="A:B"),
        item("P10_PAIS", itemType="SELECT", tag="select", type="", value=[]),
    ])
    out = mapear(page, 2500)
    assert page.scripts[0] == ("esperar_pagina", [2500, 1500])
    assert out["mapa"]["NOME"] == {"WebSel": "#P10_NOME", "ColTipo": "text", "Rotulo": "Nome"}
    assert out["mapa"]["DT"] == {"WebSel": "#P10_DT", "ColTipo": "datepicker", "Formato": "DD-MON-YYYY"}
    assert list(out["dados"].items()) == [
        ("NOME", "Ana"), ("NOME_2", ""), ("Titulares_2", ""), ("DT", "01-JAN-2024"), ("SEXO", "2"), ("CANAIS", ""),
        ("IDIOMAS", ["PT", "EN"]), ("TAGS", ["A", "B"]), ("PAIS", ""), ("RepAtivarPreenc", 0)]
    assert list(out["mapa"]) == list(out["dados"])[:-1]


def test_row_editor_items_go_to_a_section_skeleton_with_the_grid_kinds():
    editors = [{"id": "R1", "title": "Beneficiários", "add": "#B_ADD", "save": "#B_SAVE"},
               {"id": "R2", "title": "Pessoas", "add": None, "save": "#P_SAVE"}]
    out = mapear(PageFacts([
        item("P1_NOME"),
        item("P3_NOME", editor=0, visible=False, label="Nome"),  # editors are often hidden
        item("P3_OBS", editor=0, tag="textarea", type="", visible=False),
        item("P3_SEXO", editor=0, itemType="RADIO_GROUP", **GROUP),
        item("P4_NOME", editor=1, disabled=True),
    ], editors))
    assert list(out["mapa"]) == ["NOME"]
    ben, tit = out["grelhas"]
    assert ben["esqueleto"] == {"Beneficiarios": {
        "BenInserir": {"WebSel": "#B_ADD"},
        "NOME": {"WebSel": "#P3_NOME", "ColTipo": "text", "Rotulo": "Nome"},
        "OBS": {"WebSel": "#P3_OBS", "ColTipo": "text"},
        "BenGravar": {"WebSel": "#B_SAVE"}}}
    assert tit["esqueleto"] == {"Titulares": {"TitInserir": {"WebSel": "#?"}, "NOME": {"WebSel": "#P4_NOME", "ColTipo": "text"},
                                              "TitGravar": {"WebSel": "#P_SAVE"}}}
    assert out["itens"][3]["motivo"] == "a grelha não preenche o tipo radio"


@pytest.mark.parametrize("page, problem", [
    (PageFacts([], apex=False), "a página não é uma página APEX: não tem window.apex nem itens do APEX"),
    (PageFacts([item("P101_USERNAME"), item("P101_PASSWORD", type="password")], login=True),
     "a página pede o início de sessão (tem um campo de palavra-passe): não é o formulário"),
    (PageFacts([item("P1_X", itemType="HIDDEN", type="hidden")]),
     "a página não tem nenhum item do APEX que se possa preencher"),
])
def test_pages_that_are_not_a_form_say_why(page, problem):
    assert mapear(page)["problema"] == problem


def test_a_form_with_a_password_field_is_not_a_login_page():
    out = mapear(PageFacts([item(f"P1_{c}") for c in "ABCD"] + [item("P1_SENHA", type="password")], login=True))
    assert out["problema"] is None and len(out["mapa"]) == 4
