"""A form for the recording page, shared by the tests of the runner's progress and of the fill
events: fields, the representative, two grids, and a field after the sections; and field
fills that only record (into the page's ops) what they were given."""
import asyncio

FILLS = ["fCtPreencText", "fCtPreencTextArea", "fCtApexPreencDropDownList", "fCtPreencCheckRadio",
         "fCtPreencCheckMultiple", "fCtApexPreencPopupLovId", "fCtPreencDatepicker",
         "fCtApexPreencMultiSelect", "fCtPreencAutoComplete"]

MAPPING = {
    "A": {"WebSel": "#A", "ColTipo": "text"},
    "B": {"WebSel": "#B", "ColTipo": "textarea"},
    "Beneficiarios": {"BenInserir": {"WebSel": "#BEN_ADD"}, "N": {"WebSel": "#N", "ColTipo": "text"},
                      "BenGravar": {"WebSel": "#BEN_SAVE"}},
    "Representantes": {"R": {"WebSel": "#R", "ColTipo": "text"}},
    "Titulares": {"TitInserir": {"WebSel": "#TIT_ADD"}, "T": {"WebSel": "#T", "ColTipo": "text"},
                  "U": {"WebSel": "#U", "ColTipo": "dropdownlist"}, "TitGravar": {"WebSel": "#TIT_SAVE"}},
    "DEPOIS": {"WebSel": "#DEPOIS", "ColTipo": "text"},
}
DATA = {"A": "a", "B": "", "DEPOIS": "x", "RepAtivarPreenc": 1, "Representantes": {"R": "r"},
        "Titulares": [{"T": "t1", "U": "u1"}, {"T": "t2"}], "Beneficiarios": [{"N": "n1"}]}


def install_recording_fills(vc, fails=None):
    """Replaces every field fill of the module by a recorder into the page's ops that yields to
    the event loop once; the value "FALHA" raises (the exception `fails`, or a RuntimeError)."""
    def make(name):
        async def fill(pPage, pWebSel, value, *rest):
            pPage.ops.append(("fill", pWebSel, {"fill": name, "value": value}))
            await asyncio.sleep(0)
            if value == "FALHA":
                raise fails if fails is not None else RuntimeError("item recusou o valor")
        return fill

    for name in FILLS:
        setattr(vc, name, make(name))
