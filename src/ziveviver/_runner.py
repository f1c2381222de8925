"""Runner for real forms: ``ziveviver preencher`` and ``ziveviver entrar``.

``preencher`` checks the mapping and data files, opens (or attaches to) a browser, loads the
form and fills it with the controller's whole-form fill, then shows the end-of-run notice and
keeps the browser open for the user. ``entrar`` opens a browser for the user to log in and
saves the session (Playwright's storage state) for later ``preencher --estado`` runs.

Progress on the terminal comes from watching the whole-form fill, not from re-doing it: the
field dispatcher is looked up in the module at every field, so for the length of the fill it
is a thin wrapper that notes the field and awaits the real one; the three section methods are
looked up on the controller, so the controller gets wrappers for them as instance attributes;
and grid rows are seen on the page itself (the wait for the add button starts a row, the click
on the save button ends it), through a page object that forwards everything to the real page.
The fill's own steps, arguments, "ColNome" writes, section rule and log lines stay exactly
those of ``fCtPreencTodoForm``.
"""
import argparse
import asyncio
import json
import os
import pathlib
import re
import shutil
import sys
import threading
import time
import types

KINDS = ("text", "textarea", "dropdownlist", "radio", "checkboxmultiple", "popuplovid", "date",
         "datepicker", "multiselect", "autocomplete")
GRID_KINDS = ("text", "datepicker", "dropdownlist", "checkboxmultiple", "popuplovid")
POSITION_KINDS = ("radio", "checkboxmultiple")
SECTIONS = ("Representantes", "Titulares", "Beneficiarios")
GRIDS = {"Titulares": ("TitInserir", "TitGravar"), "Beneficiarios": ("BenInserir", "BenGravar")}
LABELS = {None: "Formulário", "Representantes": "Representante", "Titulares": "Titulares",
          "Beneficiarios": "Beneficiários"}
SECTION_METHODS = {"Representantes": "fCtApexPreencRepres", "Titulares": "fPreencGridTitular",
                   "Beneficiarios": "fPreencGridBeneficiario"}
NOTICES = ("modal", "janela", "nenhum")
# Exit statuses: 0 the fill ran to its end; 1 it failed or stayed incomplete; 2 bad input
# (arguments or files, reported before any browser opens); 130 interrupted by the user.
OK, FAILED, BAD_INPUT, INTERRUPTED = 0, 1, 2, 130
FIELDS_WAIT_S = 10  # how long a loaded page may take to show one of the mapped items (at most
# --tempo-limite)
SNAPSHOT_EVERY_S = 1.0  # how often `entrar` copies the session while the user logs in

# True when one of the selectors matches an element (a selector the page cannot parse
# counts as no match).
ANY_PRESENT = """(sels) => sels.some((s) => {
  try { return document.querySelector(s) !== null; } catch (e) { return false; }
})"""
# Which tab the user is looking at: focused first, then visible.
TAB_STATE = "() => [document.hasFocus(), document.visibilityState === 'visible']"


class InputError(Exception):
    """Bad arguments or input files: every line of `problems` is shown to the user."""

    def __init__(self, problems):
        super().__init__("\n".join(problems))
        self.problems = list(problems)


class RunError(Exception):
    """A failure of the run with a message ready for the user."""


def say(text=""):
    print(text, flush=True)


def warn(text):
    print(f"Aviso: {text}", file=sys.stderr, flush=True)


def fail(text):
    print(f"Erro: {text}", file=sys.stderr, flush=True)


# ------------------------------------------------------------------------------ input files

JSON_MESSAGES = (
    ("Expecting property name enclosed in double quotes",
     "esperava-se o nome de uma chave entre aspas duplas (vírgula a mais antes de '}'?)"),
    # CPython 3.13+ names a trailing comma and points at it; older versions point after it
    ("Illegal trailing comma before end of object", "vírgula a mais antes de '}'"),
    ("Illegal trailing comma before end of array", "vírgula a mais antes de ']'"),
    ("Expecting ',' delimiter", "falta uma vírgula entre dois elementos"),
    ("Expecting ':' delimiter", "faltam os dois pontos ':' depois do nome da chave"),
    ("Expecting value", "esperava-se um valor (texto entre aspas duplas, número, true, false, "
                        "null, lista ou objeto)"),
    ("Extra data", "há texto depois do fim do JSON"),
    ("Unterminated string starting at", "texto sem as aspas de fecho"),
    ("Invalid control character at", "carácter de controlo dentro de um texto (uma quebra de "
                                     "linha? escreva \\n)"),
    ("Invalid \\escape", "sequência de escape inválida (numa barra invertida escreva \\\\)"),
    ("Invalid \\uXXXX escape", "sequência \\u inválida"),
)


def _json_reason(msg):
    for english, portuguese in JSON_MESSAGES:
        if msg.startswith(english):
            return portuguese
    return msg


def load_json(path, what):
    """Reads a JSON file (UTF-8, with or without BOM); `what` names it in messages."""
    p = pathlib.Path(path)
    try:
        raw = p.read_bytes()
    except FileNotFoundError:
        raise InputError([f"{what}: o ficheiro {path} não existe."]) from None
    except IsADirectoryError:
        raise InputError([f"{what}: {path} é uma pasta, não um ficheiro."]) from None
    except OSError as e:
        raise InputError([f"{what}: não foi possível ler {path}: {e.strerror or e}."]) from None
    try:
        text = raw.decode("utf-8-sig")
    except UnicodeDecodeError as e:
        line = raw[:e.start].count(b"\n") + 1
        raise InputError([f"{what}: {path} não está em UTF-8 (byte inválido na linha {line}); "
                          "guarde o ficheiro com a codificação UTF-8."]) from None
    try:
        return json.loads(text)
    except json.JSONDecodeError as e:
        lines = text.splitlines()
        shown = lines[e.lineno - 1] if 0 < e.lineno <= len(lines) else ""
        problems = [f"{what}: JSON inválido em {path}, linha {e.lineno}, coluna {e.colno}: "
                    f"{_json_reason(e.msg)}."]
        if shown.strip():
            problems += ["    " + shown.expandtabs(1), "    " + " " * (e.colno - 1) + "^"]
        raise InputError(problems) from None


def _kind_problem(where, kind, accepted, exact):
    """The message for a "ColTipo" that the fill would reject (None when it is accepted)."""
    if not isinstance(kind, str):
        return f'{where}: "ColTipo" deve ser um texto, não {json.dumps(kind, ensure_ascii=False)}.'
    if (kind if exact else kind.lower()) in accepted:
        return None
    hint = ""
    if kind.strip() != kind:
        hint = " (há espaços a mais)"
    elif exact and kind.lower() in accepted:
        hint = f' (nas grelhas o tipo escreve-se em minúsculas: "{kind.lower()}")'
    elif exact and kind.lower() in KINDS:
        hint = " (este tipo não é aceite numa grelha)"
    return (f'{where}: tipo de campo "{kind}" desconhecido{hint}; os tipos aceites são: '
            f"{', '.join(accepted)}.")


def _check_field(where, cfg, accepted, exact, problems):
    if not isinstance(cfg, dict):
        problems.append(f'{where}: a configuração deve ser um objeto com "WebSel" e "ColTipo", '
                        f"não {json.dumps(cfg, ensure_ascii=False)}.")
        return
    sel = cfg.get("WebSel")
    if "WebSel" not in cfg:
        problems.append(f'{where}: falta "WebSel" (o seletor do item na página, por exemplo '
                        f'"#P1_NOME").')
    elif not isinstance(sel, str) or not sel.strip():
        problems.append(f'{where}: "WebSel" deve ser um texto não vazio, por exemplo "#P1_NOME".')
    if "ColTipo" not in cfg:
        problems.append(f'{where}: falta "ColTipo" (o tipo do item: {", ".join(accepted)}).')
    else:
        bad = _kind_problem(where, cfg["ColTipo"], accepted, exact)
        if bad:
            problems.append(bad)


def check_mapping(mapping, what="mapa"):
    """The problems (errors) and warnings of a mapping configuration, in file order."""
    if not isinstance(mapping, dict):
        return [f"{what}: o mapa deve ser um objeto JSON {{\"COLUNA\": {{\"WebSel\": ..., "
                f"\"ColTipo\": ...}}, ...}}, não {_json_type(mapping)}."], []
    problems, warnings = [], []
    first_section = None
    for col, cfg in mapping.items():
        if col in SECTIONS:
            first_section = first_section or col
            continue
        if first_section:
            warnings.append(f'{what}: o campo "{col}" vem depois da secção "{first_section}" '
                            "e não será preenchido (os campos simples vêm antes das secções).")
        _check_field(f'{what}, campo "{col}"', cfg, KINDS, False, problems)
    rep = mapping.get("Representantes")
    if "Representantes" in mapping:
        if not isinstance(rep, dict):
            problems.append(f'{what}: a secção "Representantes" deve ser um objeto '
                            '{"COLUNA": {"WebSel": ..., "ColTipo": ...}}.')
        else:
            for col, cfg in rep.items():
                _check_field(f'{what}, Representantes, campo "{col}"', cfg, KINDS, False, problems)
    for key, buttons in GRIDS.items():
        if key not in mapping:
            continue
        grid = mapping[key]
        if not isinstance(grid, dict):
            problems.append(f'{what}: a secção "{key}" deve ser um objeto com "{buttons[0]}", '
                            f'"{buttons[1]}" e as colunas da grelha.')
            continue
        for button in buttons:
            cfg = grid.get(button)
            if not isinstance(cfg, dict) or not isinstance(cfg.get("WebSel"), str) \
                    or not cfg["WebSel"].strip():
                role = "acrescenta" if button == buttons[0] else "grava"
                problems.append(f'{what}, {key}: falta "{button}" com o "WebSel" do botão que '
                                f"{role} uma linha, por exemplo {{\"WebSel\": \"#BOTAO\"}}.")
        for col, cfg in grid.items():
            if col not in buttons:
                _check_field(f'{what}, {key}, coluna "{col}"', cfg, GRID_KINDS, True, problems)
    return problems, warnings


def _json_type(value):
    return {dict: "um objeto", list: "uma lista", str: "um texto", bool: "um booleano",
            type(None): "null"}.get(type(value), "um número")


def _is_blank(value):
    return value is None or str(value).strip() == ""


def _position_warning(where, kind, value):
    if _is_blank(value) or str(value).strip().isdigit():
        return None
    return (f'{where} ({kind}): o valor {json.dumps(value, ensure_ascii=False)} não é uma posição; '
            "os grupos de opções recebem a posição da opção (0 para a primeira, 1 para a "
            "segunda, ...).")


def _check_values(where, fields, record, problems, warnings):
    """The values one record gives to a list of (column, field configuration)."""
    for col, cfg in fields:
        kind = str(cfg.get("ColTipo", "")).lower()
        value = record.get(col)
        if kind == "multiselect" and not isinstance(value, list):
            got = "falta nos dados" if col not in record else f"recebido {_json_type(value)}"
            problems.append(f'{where}, "{col}" (multiselect): espera uma lista de valores, por '
                            f'exemplo ["PT", "EN"] ({got}).')
        elif kind in POSITION_KINDS:
            w = _position_warning(f'{where}, "{col}"', cfg.get("ColTipo"), value)
            if w:
                warnings.append(w)


def check_data(data, mapping, what="dados"):
    """The problems and warnings of the form data against a (valid) mapping."""
    if not isinstance(data, dict):
        return [f"{what}: os dados devem ser um objeto JSON {{\"COLUNA\": valor, ...}}, "
                f"não {_json_type(data)}."], []
    problems, warnings = [], []
    _check_values(what, simple_fields(mapping), data, problems, warnings)
    if "RepAtivarPreenc" not in data:
        problems.append(f'{what}: falta "RepAtivarPreenc" (1 para preencher o representante, 0 '
                        "para não o preencher).")
    elif data["RepAtivarPreenc"] != 1 and str(data["RepAtivarPreenc"]).strip() == "1":
        warnings.append(f'{what}: "RepAtivarPreenc" é o texto "1", que não ativa o representante; '
                        "escreva o número 1 (sem aspas).")
    if rep_filled(mapping, data):
        rep = data["Representantes"]
        if not isinstance(rep, dict):
            problems.append(f'{what}: "Representantes" deve ser um objeto {{"COLUNA": valor}}, '
                            f"não {_json_type(rep)}.")
        else:
            _check_values(f"{what}, Representantes", list(mapping["Representantes"].items()), rep,
                          problems, warnings)
    for key, buttons in GRIDS.items():
        records = data.get(key)
        if not records:
            continue
        if key not in mapping:
            warnings.append(f'{what}: há "{key}" nos dados, mas o mapa não tem a secção "{key}"; '
                            "não serão preenchidos.")
            continue
        if not isinstance(records, list) or not all(isinstance(r, dict) for r in records):
            problems.append(f'{what}: "{key}" deve ser uma lista de objetos, um por linha da '
                            'grelha: [{"COLUNA": valor}, ...].')
            continue
        columns = [(c, cfg) for c, cfg in mapping[key].items() if c not in buttons]
        for i, record in enumerate(records, 1):
            for col, cfg in columns:
                w = _position_warning(f'{what}, {key} {i}, "{col}"', cfg.get("ColTipo"),
                                      record.get(col)) if cfg.get("ColTipo") in POSITION_KINDS else None
                if w:
                    warnings.append(w)
    return problems, warnings


def simple_fields(mapping):
    """The (column, configuration) pairs the field loop fills: those before the first section."""
    fields = []
    for col, cfg in mapping.items():
        if col in SECTIONS:
            break
        fields.append((col, cfg))
    return fields


def rep_filled(mapping, data):
    return (data.get("RepAtivarPreenc") == 1 and bool(data.get("Representantes"))
            and "Representantes" in mapping)


def grids_filled(mapping, data):
    return [key for key in GRIDS if data.get(key) and key in mapping]


def load_inputs(mapa_path, dados_path):
    """Loads and checks both files; raises InputError with every problem found."""
    problems = []
    mapping = data = None
    try:
        mapping = load_json(mapa_path, "mapa")
    except InputError as e:
        problems += e.problems
    try:
        data = load_json(dados_path, "dados")
    except InputError as e:
        problems += e.problems
    if problems:
        raise InputError(problems)
    problems, warnings = check_mapping(mapping, f"mapa {mapa_path}")
    if problems:
        raise InputError(problems)
    more, more_warnings = check_data(data, mapping, f"dados {dados_path}")
    if more:
        raise InputError(more)
    return mapping, data, warnings + more_warnings


def load_storage_state(path):
    state = load_json(path, "estado")
    if not isinstance(state, dict) or not isinstance(state.get("cookies", []), list) \
            or not isinstance(state.get("origins", []), list):
        raise InputError([f"estado: {path} não é um estado de sessão guardado por "
                          "'ziveviver entrar' (um objeto com \"cookies\" e \"origins\")."])
    return state


# ------------------------------------------------------------------------------ progress

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
        blank = " (sem valor)" if _is_blank(value) else ""
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
        outcome.error = f"o preenchimento parou {progress.where or 'antes do primeiro campo'}: {_exc_text(e)}"
    finally:
        if vc.fCtApexIdentTipoCampoPreenc is observed_dispatch:
            vc.fCtApexIdentTipoCampoPreenc = real_dispatch
        for name in SECTION_METHODS.values():
            ctl.__dict__.pop(name, None)
    outcome.unsaved = progress.unsaved
    return outcome


def _exc_text(e):
    first = str(e).strip().splitlines()[0] if str(e).strip() else ""
    return f"{type(e).__name__}: {first}" if first else type(e).__name__


# ------------------------------------------------------------------------------ browser

def _system_chromium():
    for cand in ("/usr/bin/chromium", shutil.which("chromium"), shutil.which("chromium-browser")):
        if cand and pathlib.Path(cand).exists():
            return cand
    return None


def _launch_problem(e, what):
    msg = str(e)
    if "Executable doesn't exist" in msg or "is not found at" in msg or "distribution" in msg:
        return (f"{what} não está instalado. Indique outro com --navegador CAMINHO ou --canal "
                "chrome|msedge.")
    if "XServer" in msg or "DISPLAY" in msg:
        return (f"não há ambiente gráfico para abrir {what}; use --headless ou corra-o numa sessão "
                "gráfica.")
    first = msg.strip().splitlines()[0] if msg.strip() else type(e).__name__
    return f"não foi possível iniciar {what}: {first}"


async def launch(pw, args, headless):
    """Starts the browser the arguments name; RunError with a clear message when it cannot."""
    from playwright.async_api import Error as PlaywrightError

    options = {"headless": headless}
    canal = getattr(args, "canal", None)
    if canal:
        options["channel"] = canal
        what = f"o navegador {canal}"
    elif args.navegador:
        exe = pathlib.Path(args.navegador)
        if not exe.is_file():
            raise RunError(f"o navegador indicado em --navegador não existe: {args.navegador}")
        options["executable_path"] = str(exe)
        what = f"o navegador {args.navegador}"
    else:
        exe = _system_chromium()
        if exe:
            options["executable_path"] = exe
            what = f"o Chromium ({exe})"
        elif pathlib.Path(pw.chromium.executable_path).exists():
            what = "o Chromium do Playwright"
        else:
            raise RunError("nenhum Chromium encontrado: instale o pacote 'chromium', ou indique um "
                           "navegador com --navegador CAMINHO ou --canal chrome|msedge.")
    if not headless and sys.platform.startswith("linux") and not os.environ.get("DISPLAY") \
            and not os.environ.get("WAYLAND_DISPLAY"):
        raise RunError(f"não há ambiente gráfico (DISPLAY) para mostrar {what}; use --headless "
                       "ou corra numa sessão gráfica.")
    say(f"A abrir {what}...")
    try:
        return await pw.chromium.launch(**options)
    except PlaywrightError as e:
        raise RunError(_launch_problem(e, what)) from None


async def goto(page, url, limit_s):
    from playwright.async_api import Error as PlaywrightError
    from playwright.async_api import TimeoutError as PlaywrightTimeout

    say(f"A carregar {url} ...")
    try:
        response = await page.goto(url, timeout=limit_s * 1000, wait_until="load")
    except PlaywrightTimeout:
        raise RunError(f"a página {url} não carregou em {_secs(limit_s)} (use --tempo-limite "
                       "para esperar mais).") from None
    except PlaywrightError as e:
        raise RunError(f"não foi possível abrir {url}: {_net_error(e)}") from None
    if response is not None and response.status >= 400:
        raise RunError(f"o servidor respondeu {response.status} {response.status_text} a {url}.")


def _net_error(e):
    msg = str(e)
    m = re.search(r"net::ERR_[A-Z_]+", msg)
    if m:
        return m.group(0)
    return msg.strip().splitlines()[0] if msg.strip() else type(e).__name__


def _secs(s):
    return f"{round(s, 1):g} s"


def _url_of(arg):
    """A local file path becomes a file:// address; anything else is taken as given."""
    if "://" not in arg and pathlib.Path(arg).is_file():
        return pathlib.Path(arg).resolve().as_uri()
    return arg


def _matches(tab_url, url):
    if tab_url == url or tab_url.startswith(url):
        return True
    strip = lambda u: u.split("#", 1)[0].split("?", 1)[0].rstrip("/")  # noqa: E731
    return strip(tab_url) == strip(url)


async def attach(pw, address, limit_s):
    """Connects to a browser the user opened with a remote-debugging port."""
    say(f"A ligar ao navegador em {address} ...")
    try:
        return await pw.chromium.connect_over_cdp(address, timeout=limit_s * 1000)
    except Exception as e:  # noqa: BLE001 - any failure to attach is the user's to fix
        raise RunError(f"não foi possível ligar ao navegador em {address} ({_net_error(e)}). "
                       "Abra o Chromium com --remote-debugging-port=9222 e indique "
                       "--cdp http://127.0.0.1:9222.") from None


async def pick_tab(browser, url, limit_s):
    """The tab to fill in a browser the user opened: the one whose address matches `url`
    (opened in a new tab of that browser when none does), or the one the user is on."""
    pages = [p for ctx in browser.contexts for p in ctx.pages]
    if url:
        for p in pages:
            if _matches(p.url, url):
                say(f"A preencher o separador aberto em {p.url}")
                await _loaded(p, limit_s)
                return p
        if not browser.contexts:
            raise RunError("o navegador não tem nenhuma janela aberta.")
        say(f"Nenhum separador aberto em {url}; a abri-lo num separador novo.")
        page = await browser.contexts[0].new_page()
        await goto(page, url, limit_s)
        return page
    if not pages:
        raise RunError("o navegador não tem nenhum separador aberto; indique o formulário com --url.")
    best, best_rank = pages[-1], (False, False)
    for p in pages:
        try:
            rank = tuple(await p.evaluate(TAB_STATE))
        except Exception:  # noqa: BLE001 - a tab that cannot answer is not the current one
            continue
        if rank > best_rank:
            best, best_rank = p, rank
    say(f"A preencher o separador atual: {best.url}")
    await _loaded(best, limit_s)
    return best


async def _loaded(page, limit_s):
    from playwright.async_api import TimeoutError as PlaywrightTimeout

    try:
        await page.wait_for_load_state("load", timeout=limit_s * 1000)
    except PlaywrightTimeout:
        raise RunError(f"o separador {page.url} não acabou de carregar em {_secs(limit_s)}.") from None


async def require_fields(page, mapping, data, hint, limit_s):
    """Fails when none of the mapped items is in the page (a login page, the wrong page)."""
    from playwright.async_api import TimeoutError as PlaywrightTimeout

    sels = [str(cfg["WebSel"]) for _, cfg in simple_fields(mapping)]
    if rep_filled(mapping, data):
        sels += [str(cfg["WebSel"]) for cfg in mapping["Representantes"].values()]
    for key in grids_filled(mapping, data):
        sels.append(str(mapping[key][GRIDS[key][0]]["WebSel"]))
    if not sels:
        return
    try:
        await page.wait_for_function(ANY_PRESENT, arg=sels, timeout=min(FIELDS_WAIT_S, limit_s) * 1000)
    except PlaywrightTimeout:
        raise RunError(f"a página {page.url} não tem nenhum dos itens do mapa ({', '.join(sels[:3])}"
                       f"{', ...' if len(sels) > 3 else ''}). É a página do formulário? {hint}") from None


# ------------------------------------------------------------------------------ commands

class _State:
    filled = False


async def _preencher(args, mapping, data, state):
    from playwright.async_api import async_playwright

    url = _url_of(args.url) if args.url else None
    async with async_playwright() as pw:
        browser = None
        if args.cdp:
            browser = await attach(pw, args.cdp, args.tempo_limite)
            page = await pick_tab(browser, url, args.tempo_limite)
            hint = "Inicie a sessão nesse navegador e abra o formulário."
        else:
            browser = await launch(pw, args, args.headless)
            options = {"viewport": {"width": 1280, "height": 900}} if args.headless else {"no_viewport": True}
            if args.estado:
                options["storage_state"] = args.estado_dados
            context = await browser.new_context(**options)
            page = await context.new_page()
            await goto(page, url, args.tempo_limite)
            hint = ("A sessão guardada pode ter expirado: volte a correr 'ziveviver entrar'."
                    if args.estado else
                    "Se a aplicação pede o login, use --estado (ver 'ziveviver entrar') ou --cdp.")
        await require_fields(page, mapping, data, hint, args.tempo_limite)

        started = time.monotonic()
        controllers = []
        outcome = await fill_form(page, mapping, data, debug=args.debug, controller_out=controllers)
        if args.debug:
            _say_log_file()
        if page.is_closed() or not browser.is_connected():
            fail("o navegador (ou o separador do formulário) foi fechado durante o preenchimento.")
            return FAILED
        if outcome.error:
            fail(outcome.error)
            return FAILED
        state.filled = True
        took = time.monotonic() - started
        if outcome.unsaved:
            rows = ", ".join(f"{label} linha {n}" for label, n in outcome.unsaved)
            say(f"Preenchimento terminado em {took:.0f} s, com linhas por gravar: {rows}.")
        else:
            say(f"Preenchimento concluído: {Plan(mapping, data).total} campos em {took:.0f} s.")

        deadline = None if not args.cdp and not args.headless else time.monotonic() + args.espera
        await _notice(args, controllers[0], deadline)
        if not args.cdp:
            await _keep_open(browser, page, args.espera if deadline is None
                             else max(0.0, deadline - time.monotonic()))
            if browser.is_connected():
                await browser.close()
        return FAILED if outcome.unsaved else OK


def _say_log_file():
    from ziveviver import vexocontrole as vc

    for handler in getattr(vc.objfLog, "handlers", []):
        path = getattr(handler, "baseFilename", None)
        if path:
            say(f"Registo de depuração: {path}")


async def _notice(args, ctl, deadline):
    """The end-of-run notice. Without a person in front of a browser the runner started
    (--headless, --cdp) the wait for the in-page notice ends at `deadline`."""
    if args.aviso == "nenhum":
        return
    if args.aviso == "janela":
        from ziveviver import vexocontrole as vc

        say("A mostrar a janela de aviso...")
        try:
            await vc.fCtPopUpWindows()
        except Exception as e:  # noqa: BLE001 - the fill is done; a missing notice is reported
            warn(f"não foi possível mostrar a janela de aviso: {e}")
        return
    from playwright.async_api import Error as PlaywrightError

    say('Aviso mostrado na página: à espera que o utilizador carregue em "Enviar"...')
    try:
        if deadline is None:
            await ctl.fCtPopUpHtml()
        else:
            await asyncio.wait_for(ctl.fCtPopUpHtml(), max(0.0, deadline - time.monotonic()))
    except asyncio.TimeoutError:
        say("Ninguém fechou o aviso no tempo de --espera; o aviso fica na página.")
    except PlaywrightError as e:
        warn(f"não foi possível mostrar o aviso na página: {_exc_text(e)}")


async def _keep_open(browser, page, seconds):
    if seconds <= 0 or not browser.is_connected() or page.is_closed():
        return
    closed = asyncio.Event()
    browser.on("disconnected", lambda *_: closed.set())
    page.on("close", lambda *_: closed.set())
    say(f"O navegador fica aberto até o fechar (no máximo {_secs(seconds)}).")
    try:
        await asyncio.wait_for(closed.wait(), seconds)
        say("Navegador fechado.")
    except asyncio.TimeoutError:
        say("Tempo de espera esgotado; a fechar o navegador.")


def cmd_preencher(args):
    _reconfigure_output()
    try:
        _require(args, ("mapa", "--mapa"), ("dados", "--dados"))
        if not args.url and not args.cdp:
            raise InputError(["falta --url (o endereço do formulário)."])
        if args.cdp and (args.estado or args.navegador or args.canal or args.headless):
            raise InputError(["--cdp usa o navegador já aberto: não se combina com --estado, "
                              "--navegador, --canal nem --headless."])
        if args.espera < 0 or args.tempo_limite <= 0:
            raise InputError(["--espera não pode ser negativo e --tempo-limite tem de ser maior que 0."])
        mapping, data, warnings = load_inputs(args.mapa, args.dados)
        args.estado_dados = load_storage_state(args.estado) if args.estado else None
    except InputError as e:
        _report(e)
        return BAD_INPUT
    for w in warnings:
        warn(w)
    state = _State()
    try:
        return asyncio.run(_preencher(args, mapping, data, state))
    except RunError as e:
        fail(str(e))
        return FAILED
    except Exception as e:  # noqa: BLE001 - the user gets a line, not a traceback
        fail(f"falha inesperada: {_exc_text(e)}")
        return FAILED
    except KeyboardInterrupt:
        if state.filled:
            say("Terminado pelo utilizador.")
            return OK
        fail("interrompido pelo utilizador antes do fim do preenchimento.")
        return INTERRUPTED


def _watch_stdin(loop, event):
    """Sets `event` when the user presses Enter (nothing when the input is closed)."""
    def read():
        try:
            line = sys.stdin.readline()
        except (OSError, ValueError):
            return
        if line:
            loop.call_soon_threadsafe(event.set)
    threading.Thread(target=read, daemon=True).start()


async def _entrar(args):
    from playwright.async_api import Error as PlaywrightError
    from playwright.async_api import async_playwright

    url = _url_of(args.url)
    async with async_playwright() as pw:
        browser = await launch(pw, args, headless=False)
        context = await browser.new_context(no_viewport=True)
        page = await context.new_page()
        await goto(page, url, args.tempo_limite)
        say(f"Inicie a sessão na janela do navegador. Quando terminar, carregue em Enter aqui para "
            f"guardar a sessão em {args.salvar} (fechar o navegador também a guarda).")
        snapshot = await context.storage_state()
        enter, closed = asyncio.Event(), asyncio.Event()
        _watch_stdin(asyncio.get_running_loop(), enter)
        browser.on("disconnected", lambda *_: closed.set())
        page.on("close", lambda *_: closed.set())
        deadline = time.monotonic() + args.espera
        while not enter.is_set() and not closed.is_set() and time.monotonic() < deadline:
            try:
                await asyncio.wait_for(enter.wait(), SNAPSHOT_EVERY_S)
            except asyncio.TimeoutError:
                pass
            if closed.is_set():
                break
            try:
                snapshot = await context.storage_state()
            except PlaywrightError:
                break  # closing: keep the last copy
        if not closed.is_set() and browser.is_connected():
            try:
                snapshot = await context.storage_state()
            except PlaywrightError:
                pass
        _write_private(args.salvar, json.dumps(snapshot, indent=2, ensure_ascii=False))
        cookies = len(snapshot.get("cookies", []))
        say(f"Sessão guardada em {args.salvar} ({cookies} cookies). Use-a com: ziveviver preencher "
            f"--estado {args.salvar} ...")
        if browser.is_connected():
            await browser.close()
        return OK


def _write_private(path, text):
    """Writes a file only its owner can read: it holds the session's cookies."""
    fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600)
    with os.fdopen(fd, "w", encoding="utf-8") as f:
        f.write(text + "\n")


def cmd_entrar(args):
    _reconfigure_output()
    try:
        _require(args, ("url", "--url"), ("salvar", "--salvar"))
        if args.espera <= 0 or args.tempo_limite <= 0:
            raise InputError(["--espera e --tempo-limite têm de ser maiores que 0."])
        target = pathlib.Path(args.salvar)
        if not target.parent.is_dir():
            raise InputError([f"a pasta de {args.salvar} não existe."])
    except InputError as e:
        _report(e)
        return BAD_INPUT
    try:
        return asyncio.run(_entrar(args))
    except RunError as e:
        fail(str(e))
        return FAILED
    except OSError as e:
        fail(f"não foi possível guardar {args.salvar}: {e.strerror or e}")
        return FAILED
    except Exception as e:  # noqa: BLE001 - the user gets a line, not a traceback
        fail(f"falha inesperada: {_exc_text(e)}")
        return FAILED
    except KeyboardInterrupt:
        fail("interrompido pelo utilizador; a sessão não foi guardada.")
        return INTERRUPTED


def _report(error):
    for line in error.problems:
        if line.startswith("    "):  # the quoted line of a JSON error and its caret
            print(line, file=sys.stderr, flush=True)
        else:
            fail(line)


def _require(args, *pairs):
    missing = [flag for attr, flag in pairs if not getattr(args, attr)]
    if missing:
        raise InputError([f"falta {' e '.join(missing)}."])


def _reconfigure_output():
    for stream in (sys.stdout, sys.stderr):
        try:
            stream.reconfigure(errors="replace")
        except (AttributeError, ValueError):
            pass


# ------------------------------------------------------------------------------ parser

ARG_ERRORS = (
    (r"argument (\S+): invalid choice: (\S+) \(choose from (.*)\)",
     r"argumento \1: valor inválido \2 (escolha entre \3)"),
    (r"argument (\S+): invalid (\w+) value: (\S+)", r"argumento \1: valor inválido \3"),
    (r"argument (\S+): expected one argument", r"argumento \1: falta o valor"),
    (r"argument (\S+): not allowed with argument (\S+)", r"argumento \1: não se combina com \2"),
    (r"the following arguments are required: (.*)", r"faltam os argumentos: \1"),
    (r"unrecognized arguments: (.*)", r"argumentos desconhecidos: \1"),
)


class _Formatter(argparse.RawDescriptionHelpFormatter):
    def add_usage(self, usage, actions, groups, prefix=None):
        return super().add_usage(usage, actions, groups, "uso: " if prefix is None else prefix)


def _pt_error(parser, message):
    for pattern, repl in ARG_ERRORS:
        if re.fullmatch(pattern, message):
            message = re.sub(pattern, repl, message)
            break
    parser.print_usage(sys.stderr)
    parser.exit(BAD_INPUT, f"{parser.prog}: erro: {message}\n")


def _parser(subparsers, name, help_text, description):
    p = subparsers.add_parser(name, help=help_text, description=description, add_help=False,
                              formatter_class=_Formatter)
    p._optionals.title = "opções"
    p.add_argument("-h", "--help", action="help", help="mostra esta ajuda e termina")
    p.error = types.MethodType(_pt_error, p)
    return p


def _browser_options(p, headless):
    g = p.add_mutually_exclusive_group()
    g.add_argument("--navegador", metavar="CAMINHO",
                   help="executável do navegador (por omissão o Chromium do sistema)")
    g.add_argument("--canal", choices=("chrome", "msedge"),
                   help="usa o Chrome ou o Edge instalado no sistema")
    if headless:
        p.add_argument("--headless", action="store_true",
                       help="sem janela, para execuções sem utilizador")
    p.add_argument("--tempo-limite", type=float, default=60.0, metavar="SEGUNDOS",
                   help="quanto esperar pelo carregamento da página (60)")


PREENCHER_DOC = """\
Abre o formulário e preenche-o a partir do mapa e dos dados; nunca o submete.

exemplos:
  ziveviver preencher --url https://apex.exemplo/ords/r/app/proposta \\
      --mapa mapa.json --dados dados.json --estado login.json
  ziveviver preencher --cdp http://127.0.0.1:9222 --mapa mapa.json --dados dados.json

estado de saída: 0 preenchimento completo; 1 falha (navegador, página, preenchimento, linha
de grelha por gravar); 2 argumentos ou ficheiros inválidos; 130 interrompido."""

ENTRAR_DOC = """\
Abre o navegador na aplicação para iniciar a sessão à mão e guarda-a (cookies e
armazenamento local) para 'ziveviver preencher --estado'."""


def add_commands(subparsers):
    """Adds the `preencher` and `entrar` commands to the command line's subparsers."""
    p = _parser(subparsers, "preencher", "preenche um formulário APEX a partir de mapa e dados",
                PREENCHER_DOC)
    p.add_argument("--url", help="endereço do formulário (ou de um ficheiro local)")
    p.add_argument("--mapa", metavar="MAPA.json", help="mapa: coluna dos dados -> item da página")
    p.add_argument("--dados", metavar="DADOS.json", help="dados do formulário")
    _browser_options(p, headless=True)
    p.add_argument("--cdp", metavar="ENDEREÇO",
                   help="liga-se a um navegador já aberto (ex.: http://127.0.0.1:9222) e preenche o "
                        "separador de --url, ou o atual")
    p.add_argument("--estado", metavar="LOGIN.json", help="sessão guardada por 'ziveviver entrar'")
    p.add_argument("--aviso", choices=NOTICES, default="modal",
                   help="aviso no fim: modal na página (omissão), janela do ambiente gráfico, nenhum")
    p.add_argument("--espera", type=float, default=600.0, metavar="SEGUNDOS",
                   help="quanto tempo o navegador fica aberto depois do aviso (600)")
    p.add_argument("--debug", action="store_true", help="escreve o registo de depuração (Logs/)")
    p.set_defaults(executar=cmd_preencher)

    e = _parser(subparsers, "entrar", "inicia a sessão à mão e guarda-a para --estado", ENTRAR_DOC)
    e.add_argument("--url", help="endereço da aplicação (página de login ou o formulário)")
    e.add_argument("--salvar", metavar="LOGIN.json", help="ficheiro onde guardar a sessão")
    _browser_options(e, headless=False)
    e.add_argument("--espera", type=float, default=600.0, metavar="SEGUNDOS",
                   help="tempo máximo para iniciar a sessão (600)")
    e.set_defaults(executar=cmd_entrar)
