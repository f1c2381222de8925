"""The inputs every command reads the same way, before any browser opens: the form's address
(--url, a local file path allowed), the mapping, the data and a saved session as JSON (a
byte-order mark accepted; errors with the file, line and column, in Portuguese), and the checks
of the mapping and the data the way the whole-form fill will read them. Each problem is an
InputError, which the commands report as "Erro:" lines with exit status 2."""
import json
import pathlib

from .cli import InputError

KINDS = ("text", "textarea", "dropdownlist", "radio", "checkboxmultiple", "popuplovid", "date",
         "datepicker", "multiselect", "autocomplete", "switch", "checkbox")
GRID_KINDS = ("text", "datepicker", "dropdownlist", "checkboxmultiple", "popuplovid", "switch", "checkbox")
POSITION_KINDS = ("radio", "checkboxmultiple")
SECTIONS = ("Representantes", "Titulares", "Beneficiarios")
GRIDS = {"Titulares": ("TitInserir", "TitGravar"), "Beneficiarios": ("BenInserir", "BenGravar")}

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


def read_text(path, what):
    """A text file's contents (UTF-8, with or without BOM); `what` names it in messages."""
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
        return raw.decode("utf-8-sig")
    except UnicodeDecodeError as e:
        line = raw[:e.start].count(b"\n") + 1
        raise InputError([f"{what}: {path} não está em UTF-8 (byte inválido na linha {line}); "
                          "guarde o ficheiro com a codificação UTF-8."]) from None


def load_json(path, what):
    """Reads a JSON file (UTF-8, with or without BOM); `what` names it in messages."""
    text = read_text(path, what)
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


def is_blank(value):
    return value is None or str(value).strip() == ""


def _position_warning(where, kind, value):
    if is_blank(value) or str(value).strip().isdigit():
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


def read_files(mapa_path, dados_path):
    """The mapping and the data as read from their files, unchecked; InputError with the
    problems of both files at once."""
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
    return mapping, data


def load_inputs(mapa_path, dados_path):
    """Loads and checks both files; raises InputError with every problem found."""
    mapping, data = read_files(mapa_path, dados_path)
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




def read_session(args):
    """The saved login of --estado (None without it), kept as ``args.estado_dados`` for the
    browser's context."""
    path = getattr(args, "estado", None)
    args.estado_dados = load_storage_state(path) if path else None
    return args.estado_dados


# Addresses the browser opens as they are written.
SCHEMES = ("about:", "data:", "file:")


def page_address(arg, flag="--url"):
    """The address a command opens: a URL as given, or a local file's file:// address (None
    when `arg` is empty)."""
    if not arg:
        return None
    if "://" in arg or arg.lower().startswith(SCHEMES):
        return arg
    path = pathlib.Path(arg).expanduser()
    if path.is_file():
        return path.resolve().as_uri()
    if path.is_dir():
        raise InputError([f"{flag}: {arg} é uma pasta, não um ficheiro nem um endereço."])
    if path.suffix.lower() in (".html", ".htm") or arg.startswith((".", "/", "~", "\\")):
        raise InputError([f"{flag}: o ficheiro {arg} não existe."])
    raise InputError([f"{flag}: {arg} não é um endereço completo (comece por https:// ou "
                      "http://) nem um ficheiro que exista."])
