"""The records of ``ziveviver lote``: read from JSON (a list of records), JSON Lines, CSV or
XLSX, each given a key, checked against the mapping with the runner's own checks, and split
into parts (``--parte K/N``).

JSON and JSON Lines records are form data as ``preencher`` takes it, sections included. CSV and
XLSX rows give simple fields only: the header names the data columns, a multi-select cell holds
its values separated by "|" (``PT|EN``), and "RepAtivarPreenc" is 0 unless a column gives it.
"""
import csv
import datetime
import io
import json
import pathlib
import re
from dataclasses import dataclass

from .cli import InputError
from .inputs import SECTIONS, _json_reason, check_data, is_blank, load_json, read_text, simple_fields

FORMATS = {".json": "json", ".jsonl": "jsonl", ".ndjson": "jsonl", ".csv": "csv",
           ".xlsx": "xlsx", ".xlsm": "xlsx"}
FLAT_FORMATS = ("csv", "xlsx")
MULTI_SEPARATOR = "|"
# Excel's built-in short date shows in the reader's own order; in Portuguese, day first.
EXCEL_SHORT_DATE = "mm-dd-yy"
DEFAULT_DATE = "%d/%m/%Y"


@dataclass
class Record:
    position: int  # counted from 1, in the file's order
    where: str  # "linha 4" (or "registo 3" in a JSON list), for messages
    key: str
    data: dict


# ------------------------------------------------------------------------------ reading

def file_format(path):
    fmt = FORMATS.get(pathlib.Path(path).suffix.lower())
    if fmt is None:
        raise InputError([f"registos: formato de {path} desconhecido; use .json (uma lista de "
                          "registos), .jsonl (um registo por linha), .csv ou .xlsx."])
    return fmt


def _read_text(path):
    return read_text(path, "registos")


def read_rows(path, sheet=None):
    """The file's records as (where, record) pairs, and its format."""
    fmt = file_format(path)
    if sheet is not None and fmt != "xlsx":
        raise InputError(["--folha só se aplica a ficheiros .xlsx."])
    reader = {"json": _read_json, "jsonl": _read_jsonl, "csv": _read_csv}.get(fmt)
    rows = reader(path) if reader else _read_xlsx(path, sheet)
    return rows, fmt


def _read_json(path):
    value = load_json(path, "registos")
    if not isinstance(value, list):
        raise InputError([f"registos: {path} deve ter uma lista de registos [{{...}}, {{...}}]."])
    return [(f"registo {i}", r) for i, r in enumerate(value, 1)]


def _read_jsonl(path):
    lines = _read_text(path).split("\n")
    if lines and lines[-1] == "":
        lines.pop()  # the newline that ends the last line
    rows, problems = [], []
    for n, line in enumerate(lines, 1):
        if not line.strip():
            problems.append(f"registos: {path}, linha {n} em branco (em JSON Lines cada linha é "
                            "um registo).")
            continue
        try:
            rows.append((f"linha {n}", json.loads(line)))
        except json.JSONDecodeError as e:
            problems.append(f"registos: JSON inválido em {path}, linha {n}, coluna {e.colno}: "
                            f"{_json_reason(e.msg)}.")
    if problems:
        raise InputError(problems)
    return rows


def _delimiter(text):
    """"," or ";", whichever splits the header into more columns."""
    header = text.split("\n", 1)[0]
    counts = {d: len(next(csv.reader([header], delimiter=d), [])) for d in (",", ";")}
    return ";" if counts[";"] > counts[","] else ","


def _header(path, names):
    problems, seen = [], set()
    for i, name in enumerate(names, 1):
        if not name:
            problems.append(f"registos: {path}, coluna {i} do cabeçalho sem nome.")
        elif name in seen:
            problems.append(f'registos: {path}, a coluna "{name}" aparece duas vezes no cabeçalho.')
        seen.add(name)
    if problems:
        raise InputError(problems)


def _read_csv(path):
    text = _read_text(path)
    reader = csv.reader(io.StringIO(text, newline=""), delimiter=_delimiter(text))
    try:
        header = [h.strip() for h in next(reader)]
    except StopIteration:
        raise InputError([f"registos: {path} está vazio."]) from None
    _header(path, header)
    rows, problems = [], []
    for cells in reader:
        if not any(c.strip() for c in cells):
            continue
        if len(cells) > len(header):
            problems.append(f"registos: {path}, linha {reader.line_num}: {len(cells)} valores para "
                            f"{len(header)} colunas (falta pôr entre aspas um valor com o separador?).")
            continue
        rows.append((f"linha {reader.line_num}", dict(zip(header, cells))))
    if problems:
        raise InputError(problems)
    return rows


def _date_format(number_format):
    """The strftime format of an Excel date format such as "dd/mm/yyyy" (month and minute
    both spell "m": after an hour it is the minute)."""
    fmt = re.sub(r"\[[^]]*\]", "", number_format.split(";", 1)[0].lower())
    if fmt == EXCEL_SHORT_DATE or not re.search(r"[dmy]", fmt):
        return DEFAULT_DATE
    out, after_hour = [], False
    for token in re.findall(r'"[^"]*"|\\.|y+|m+|d+|h+|s+|[^ymdhs"\\]+', fmt):
        kind = token[0]
        if kind in '"\\':
            out.append(token.strip('"').lstrip("\\").replace("%", "%%"))  # literal text
            continue
        if kind == "y":
            out.append("%Y" if len(token) > 2 else "%y")
        elif kind == "d":
            out.append("%d" if len(token) <= 2 else ("%a" if len(token) == 3 else "%A"))
        elif kind == "m" and after_hour:
            out.append("%M")
        elif kind == "m":
            out.append({1: "%m", 2: "%m", 3: "%b"}.get(len(token), "%B"))
        elif kind == "h":
            out.append("%H")
        elif kind == "s":
            out.append("%S")
        else:
            out.append(token.replace("%", "%%"))
        after_hour = kind == "h" or (after_hour and kind not in "ymds")
    return "".join(out)


def _cell_value(cell):
    value = cell.value
    if isinstance(value, (datetime.datetime, datetime.date)):
        return value.strftime(_date_format(cell.number_format or ""))
    if isinstance(value, datetime.time):
        return value.strftime("%H:%M")
    if isinstance(value, float) and value.is_integer():
        return int(value)  # 101.0 in the sheet is the id 101
    return value


def _read_xlsx(path, sheet):
    import zipfile

    from openpyxl import load_workbook
    from openpyxl.utils.exceptions import InvalidFileException

    try:
        # data_only: a formula cell gives the value saved with the file
        book = load_workbook(path, read_only=True, data_only=True)
    except FileNotFoundError:
        raise InputError([f"registos: o ficheiro {path} não existe."]) from None
    except (zipfile.BadZipFile, InvalidFileException, KeyError, OSError) as e:
        raise InputError([f"registos: {path} não é um ficheiro XLSX válido ({e})."]) from None
    try:
        if sheet is None:
            ws = book.worksheets[0]
        elif sheet in book.sheetnames:
            ws = book[sheet]
        else:
            raise InputError([f'registos: {path} não tem a folha "{sheet}"; as folhas são: '
                              f"{', '.join(book.sheetnames)}."])
        cells = ws.iter_rows()
        first = next(cells, None)
        if first is None:
            raise InputError([f"registos: a folha {ws.title} de {path} está vazia."])
        header = ["" if c.value is None else str(c.value).strip() for c in first]
        while header and not header[-1]:
            header.pop()
        _header(path, header)
        rows, problems = [], []
        for n, row in enumerate(cells, 2):
            values = [_cell_value(c) for c in row]
            if all(is_blank(v) for v in values):
                continue
            if any(not is_blank(v) for v in values[len(header):]):
                problems.append(f"registos: {path}, folha {ws.title}, linha {n}: há valores em "
                                "colunas sem nome no cabeçalho.")
                continue
            rows.append((f"linha {n}", dict(zip(header, values))))
        if problems:
            raise InputError(problems)
        return rows
    finally:
        book.close()


# ------------------------------------------------------------------------------ records

def _flat_record(row, mapping):
    """A CSV/XLSX row as form data: multi-select cells split into lists, "RepAtivarPreenc" 0
    unless given."""
    data = dict(row)
    for col, cfg in simple_fields(mapping):
        if isinstance(cfg, dict) and str(cfg.get("ColTipo", "")).lower() == "multiselect" \
                and col in data and not isinstance(data[col], list):
            text = "" if data[col] is None else str(data[col])
            data[col] = [v.strip() for v in text.split(MULTI_SEPARATOR) if v.strip()]
    flag = data.get("RepAtivarPreenc")
    if is_blank(flag):
        data["RepAtivarPreenc"] = 0
    elif str(flag).strip().isdigit():
        data["RepAtivarPreenc"] = int(str(flag).strip())
    return data


def _key_text(value):
    if isinstance(value, float) and value.is_integer():
        value = int(value)
    return str(value).strip()


def make_records(rows, fmt, mapping, key_column=None):
    """Records from the rows read: keyed, checked. Returns (records, warnings); raises
    InputError with every problem, each naming the record's position and key."""
    records, problems, warnings = [], [], []
    flat = fmt in FLAT_FORMATS
    if flat:
        sections = [s for s in SECTIONS if s in mapping]
        if sections:
            warnings.append(f"o mapa tem secções ({', '.join(sections)}), mas os registos de "
                            f"{fmt.upper()} só trazem campos simples: as secções não são preenchidas.")
        known = {col for col, _ in simple_fields(mapping)} | {"RepAtivarPreenc", key_column}
        unknown = sorted({c for _, row in rows for c in row if c not in known})
        if unknown:
            warnings.append(f"colunas dos registos que o mapa não tem (não são preenchidas): "
                            f"{', '.join(unknown)}.")
    columns = list(dict.fromkeys(c for _, row in rows if isinstance(row, dict) for c in row))
    if key_column is not None and rows and key_column not in columns:
        raise InputError([f'--chave: os registos não têm a coluna "{key_column}"; as colunas são: '
                          f"{', '.join(map(str, columns))}."])
    keys = {}
    for position, (where, row) in enumerate(rows, 1):
        if not isinstance(row, dict):
            problems.append(f"registo {position} ({where}): deve ser um objeto "
                            '{"COLUNA": valor, ...}.')
            continue
        data = _flat_record(row, mapping) if flat else row
        if key_column is None:
            key = str(position)
        elif is_blank(data.get(key_column)):
            problems.append(f'registo {position} ({where}): falta o valor da chave "{key_column}".')
            continue
        else:
            key = _key_text(data[key_column])
        if key in keys:
            problems.append(f'registo {position} ({where}): a chave "{key}" repete a do registo '
                            f"{keys[key]}; as chaves têm de ser únicas.")
            continue
        keys[key] = position
        more, notes = check_data(data, mapping, f"registo {position} ({where}, chave {key})")
        problems += more
        warnings += [w for w in notes if w not in warnings]
        records.append(Record(position, where, key, data))
    if not rows:
        problems.append("registos: o ficheiro não tem nenhum registo.")
    if problems:
        raise InputError(problems)
    return records, warnings


def parse_part(text):
    """(K, N) from "K/N", 1 <= K <= N."""
    m = re.fullmatch(r"\s*(\d+)\s*/\s*(\d+)\s*", text or "")
    if not m or not 1 <= int(m.group(1)) <= int(m.group(2)):
        raise InputError([f"--parte: escreva K/N com 1 ≤ K ≤ N, por exemplo 2/4 (não {text!r})."])
    return int(m.group(1)), int(m.group(2))


def select_part(records, part):
    """The records of part K of N: those whose position, counted from 0, is K-1 modulo N."""
    if part is None:
        return list(records)
    k, n = part
    return [r for r in records if (r.position - 1) % n == k - 1]
