"""Records files for the ``lote`` tests, written from form data in each format the command
reads."""
import csv
import json


def write_records(path, records, fmt):
    """`records` (form data with simple fields) written next to `path` as .json, .jsonl, .csv
    (UTF-8 with a BOM, ";"-separated, ending with an empty row) or .xlsx; in CSV and XLSX a list
    becomes a "A|B" cell and an empty one an empty cell."""
    path = path.with_suffix("." + fmt)
    if fmt == "json":
        path.write_text(json.dumps(records, ensure_ascii=False), encoding="utf-8")
        return path
    if fmt == "jsonl":
        path.write_text("".join(json.dumps(r, ensure_ascii=False) + "\n" for r in records), encoding="utf-8")
        return path
    columns = list(dict.fromkeys(c for r in records for c in r))
    rows = [["|".join(v) if isinstance(v, list) else v for v in (r.get(c, "") for c in columns)]
            for r in records]
    if fmt == "csv":
        with path.open("w", encoding="utf-8-sig", newline="") as f:
            out = csv.writer(f, delimiter=";")
            out.writerow(columns)
            out.writerows(rows)
            out.writerow([""] * len(columns))  # a row left empty is not a record
        return path
    from openpyxl import Workbook

    book = Workbook()
    sheet = book.active
    sheet.append(columns)
    for row in rows:
        sheet.append([None if v == "" else v for v in row])
    book.save(path)
    return path
