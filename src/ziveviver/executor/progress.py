"""Progress of a fill on the terminal: what the whole-form fill will go through (the plan),
where it is (one line per field and grid row), and how it ended (the outcome).

Progress comes from watching the whole-form fill, not from re-doing it: the field dispatcher
is looked up in the module at every field, so for the length of the fill it is a thin wrapper
that notes the field and awaits the real one; the three section methods are looked up on the
controller, so the controller gets wrappers for them as instance attributes; and grid rows are
seen on the page itself (the wait for the add button starts a row, the click on the save
button ends it), through a page object that forwards everything to the real page. The fill's
own steps, arguments, "ColNome" writes, section rule and log lines stay exactly those of
``fCtPreencTodoForm``.
"""
import types

from .cli import exc_text, say, warn
from .inputs import GRIDS, grids_filled, is_blank, rep_filled, simple_fields

LABELS = {None: "Formulário", "Representantes": "Representante", "Titulares": "Titulares",
          "Beneficiarios": "Beneficiários"}
SECTION_METHODS = {"Representantes": "fCtApexPreencRepres", "Titulares": "fPreencGridTitular",
                   "Beneficiarios": "fPreencGridBeneficiario"}

class Plan:
    """What the whole-form fill will go through, counted the way it decides."""

    def __init__(self, mapping, data):
        self.fields = simple_fields(mapping)
        self.rep = list(mapping["Representantes"].items()) if rep_filled(mapping, data) else []
        self.grids = {}
        for key in grids_filled(mapping, data):
            add, save = GRIDS[key]
            section = mapping[key]
            self.grids[key] = types.SimpleNamespace(
                rows=len(data[key]), cells=sum(1 for c in section if c not in (add, save)),
                add=str(section[add]["WebSel"]) + ":not([disabled])", save=str(section[save]["WebSel"]))
        self.total = len(self.fields) + len(self.rep) + sum(g.rows * g.cells for g in self.grids.values())

    def summary(self):
        parts = [f"{len(self.fields)} do formulário"]
        if self.rep:
            parts.append(f"{len(self.rep)} do representante")
        for key, g in self.grids.items():
            parts.append(f"{g.rows} {'linha' if g.rows == 1 else 'linhas'} de {LABELS[key]}")
        return f"A preencher {self.total} campos: {', '.join(parts)}."


class Progress:
    """Follows the fill and prints where it is; remembers what a failure message needs."""

    def __init__(self, plan, write=say):
        self.plan, self.write = plan, write
        self.done = 0
        self.section = None
        self.where = None  # where the fill is, for failure messages ("no campo ...")
        self.row = 0
        self.row_open = False
        self.unsaved = []  # (section label, row number) of grid rows that were never saved

    def _count(self):
        width = len(str(self.plan.total))
        return f"[{self.done:>{width}}/{self.plan.total}]"

    def field(self, config, value):
        col = config.get("ColNome", "?") if isinstance(config, dict) else "?"
        kind = config.get("ColTipo", "?") if isinstance(config, dict) else "?"
        sel = config.get("WebSel", "?") if isinstance(config, dict) else "?"
        self.done += 1
        self.where = f'no campo "{col}" ({kind}, {sel})'
        blank = " (sem valor)" if is_blank(value) else ""
        self.write(f"{self._count()} {LABELS[self.section]}: {col} ({kind}){blank}")

    def section_start(self, key):
        self.section, self.row, self.row_open = key, 0, False
        self.where = f"na secção {LABELS[key]}"
        if key in self.plan.grids:
            g = self.plan.grids[key]
            self.write(f"{LABELS[key]}: {g.rows} {'linha' if g.rows == 1 else 'linhas'} a "
                       "preencher")

    def section_end(self):
        self._close_row()
        self.section = None

    def _grid(self):
        return self.plan.grids.get(self.section)

    def _close_row(self):
        if self.row_open:
            self.row_open = False
            g = self._grid()
            self.done += g.cells
            self.unsaved.append((LABELS[self.section], self.row))
            warn(f"{LABELS[self.section]}: a linha {self.row} de {g.rows} não foi gravada (o "
                 "botão de acrescentar ou de gravar não respondeu; veja o registo de depuração, "
                 "com --debug).")

    def page_wait(self, selector):
        g = self._grid()
        if g is not None and selector == g.add:
            self._close_row()
            self.row += 1
            self.row_open = True
            self.where = f"na {self.row_name()}"
            self.write(f"{' ' * len(self._count())} {LABELS[self.section]}: linha {self.row} de "
                       f"{g.rows}...")

    def row_name(self):
        return f"linha {self.row} de {LABELS[self.section]}" if self.row else f"grelha {LABELS[self.section]}"

    def page_click(self, selector):
        g = self._grid()
        if g is not None and self.row_open and selector == g.save:
            self.row_open = False
            self.done += g.cells
            self.write(f"{self._count()} {LABELS[self.section]}: linha {self.row} de {g.rows} "
                       "gravada")


class ObservedPage:
    """The caller's page with the grid rows' add waits and save clicks reported to `progress`;
    every other attribute is the page's own."""

    def __init__(self, page, progress):
        self._page, self._progress = page, progress

    def __getattr__(self, name):
        return getattr(self._page, name)

    async def wait_for_selector(self, selector, *args, **kwargs):
        self._progress.page_wait(selector)
        return await self._page.wait_for_selector(selector, *args, **kwargs)

    async def click(self, selector, *args, **kwargs):
        result = await self._page.click(selector, *args, **kwargs)
        self._progress.page_click(selector)
        return result


class FillOutcome:
    def __init__(self):
        self.complete = False
        self.error = None  # message for the user when the fill stopped
        self.unsaved = []


async def fill_form(page, mapping, data, *, debug=False, write=say, controller_out=None):
    """Fills the form with the whole-form fill while reporting progress; never raises for a
    failure of the fill itself (the outcome says what happened)."""
    from ziveviver import vexocontrole as vc

    plan = Plan(mapping, data)
    progress = Progress(plan, write)
    outcome = FillOutcome()
    ctl = vc.VexoControleApex(ObservedPage(page, progress), debug)
    if controller_out is not None:
        controller_out.append(ctl)
    write(plan.summary())

    real_dispatch = vc.fCtApexIdentTipoCampoPreenc

    async def observed_dispatch(*args, **kwargs):
        config = args[1] if len(args) > 1 else kwargs.get("pWebConfig")
        value = args[2] if len(args) > 2 else kwargs.get("pDbCampoValue")
        progress.field(config, value)
        return await real_dispatch(*args, **kwargs)

    def section(key):
        method = getattr(type(ctl), SECTION_METHODS[key])

        async def observed_section(pDictColsDePara, pJsonDados):
            progress.section_start(key)
            result = await method(ctl, pDictColsDePara, pJsonDados)
            progress.section_end()
            return result
        return observed_section

    for key, name in SECTION_METHODS.items():
        setattr(ctl, name, section(key))
    vc.fCtApexIdentTipoCampoPreenc = observed_dispatch
    try:
        await ctl.fCtPreencTodoForm(mapping, data)
        outcome.complete = True
    except SystemExit:
        # a grid cell that fails ends the run with exit status 1
        outcome.error = (f"uma célula da {progress.row_name()} falhou e o preenchimento parou (a "
                         "linha não foi gravada).")
    except Exception as e:  # noqa: BLE001 - every failure of the fill is reported, not raised
        outcome.error = f"o preenchimento parou {progress.where or 'antes do primeiro campo'}: {exc_text(e)}"
    finally:
        if vc.fCtApexIdentTipoCampoPreenc is observed_dispatch:
            vc.fCtApexIdentTipoCampoPreenc = real_dispatch
        for name in SECTION_METHODS.values():
            ctl.__dict__.pop(name, None)
    outcome.unsaved = progress.unsaved
    return outcome
