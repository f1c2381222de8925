"""What the check, the receipt and the guard return, as the user sees it: the receipt of a
fill as a table and as a JSON or CSV file (``--recibo FICHEIRO``), the check's findings as a
table, and the requests the guard held back. The work is ``ziveviver.vexoconferencia``'s."""
import csv
import json
import os
import pathlib

from .cli import count

# States of a receipt row that mean the data did not land.
FAILED_STATES = ("diferente", "nao_encontrado")
RECEIPT_COLUMNS = ("secao", "coluna", "linha", "seletor", "tipo", "estado", "esperado", "obtido", "exibido")
SECTION_LABELS = {"Formulario": "Formulário", "Representantes": "Representante",
                  "Titulares": "Titulares", "Beneficiarios": "Beneficiários"}
RECORD_LABELS = {"Titulares": "Titular", "Beneficiarios": "Beneficiário"}
MARKS = {"igual": "ok", "vazio": "vazio", "diferente": "DIFERENTE", "nao_encontrado": "NÃO ENCONTRADO",
         "nao_conferido": "não conferido", "ok": "ok", "aviso": "AVISO", "erro": "ERRO"}
STATE_COUNTS = {"igual": ("igual", "iguais"), "vazio": ("vazio", "vazios"),
                "diferente": ("diferente", "diferentes"), "nao_encontrado": ("não encontrado", "não encontrados"),
                "nao_conferido": ("não conferido", "não conferidos")}


def receipt_format(path):
    """"json" or "csv", from the file's extension; ValueError for any other."""
    suffix = pathlib.Path(path).suffix.lower()
    if suffix in (".json", ".csv"):
        return suffix[1:]
    raise ValueError(f"--recibo: use um ficheiro .json ou .csv (não {path!r})")


def _cell(value):
    """A receipt value as one CSV cell: lists joined with "; ", None as an empty cell."""
    if value is None:
        return ""
    if isinstance(value, (list, tuple)):
        return "; ".join(str(v) for v in value)
    return value


def write_rows(path, rows, columns):
    """Writes dict rows to `path`: JSON for a .json path (the rows whole), else CSV with
    `columns`. The file is replaced whole, never left half written."""
    path = pathlib.Path(path)
    path.parent.mkdir(parents=True, exist_ok=True)
    tmp = path.with_name(path.name + ".tmp")
    try:
        if path.suffix.lower() == ".json":
            tmp.write_text(json.dumps(rows, ensure_ascii=False, indent=2) + "\n", encoding="utf-8")
        else:
            with tmp.open("w", encoding="utf-8", newline="") as f:
                out = csv.DictWriter(f, fieldnames=columns, extrasaction="ignore")
                out.writeheader()
                for row in rows:
                    out.writerow({k: _cell(row.get(k)) for k in columns})
        os.replace(tmp, path)
    finally:
        tmp.unlink(missing_ok=True)


def write_receipt(rows, path):
    """Writes the receipt rows to `path`, JSON or CSV after its extension."""
    receipt_format(path)
    write_rows(path, rows, RECEIPT_COLUMNS)


def receipt_failed(rows):
    """True when some field, cell or grid did not land as the data says."""
    return any(r["estado"] in FAILED_STATES for r in rows)


def _short(value, width=34):
    text = repr(value) if value is not None else "—"
    return text if len(text) <= width else text[: width - 1] + "…"


def receipt_table(rows):
    """The receipt as text: one block per section (per record in the grids), one line per row."""
    lines = []
    block = None
    for r in rows:
        if r["linha"] is not None:
            label = f"{RECORD_LABELS.get(r['secao'], r['secao'])} {r['linha']}"
        else:
            label = SECTION_LABELS.get(r["secao"], r["secao"])
        if label != block:
            lines.append(f"\n[{label}]")
            block = label
        mark = MARKS.get(r["estado"], r["estado"])
        line = f"  {mark:<15} {str(r['coluna']):<22} esperado={_short(r['esperado']):<36} na página={_short(r['obtido'])}"
        if r.get("exibido"):
            line += f" ({r['exibido']})"
        lines.append(line)
    counts = {}
    for r in rows:
        counts[r["estado"]] = counts.get(r["estado"], 0) + 1
    summary = ", ".join(count(counts[k], *words) for k, words in STATE_COUNTS.items() if k in counts)
    lines.append(f"\n{count(len(rows), 'linha')} no recibo: {summary}.")
    return "\n".join(lines).lstrip("\n")


def findings_table(findings):
    """The findings of the check as text, one line per field, button or section."""
    lines = []
    for f in findings:
        where = f"{f['secao']}.{f['coluna']}" if f["coluna"] is not None else f["secao"]
        sel = f" {f['seletor']}" if f["seletor"] else ""
        kind = f" [{f['tipo']}]" if f["tipo"] else ""
        lines.append(f"  {MARKS[f['veredito']]:<6} {where}{sel}{kind}: {f['mensagem']}")
    n = {v: sum(1 for f in findings if f["veredito"] == v) for v in ("ok", "aviso", "erro")}
    lines.append(f"\n{count(len(findings), 'verificação', 'verificações')}: {n['ok']} ok, "
                 f"{count(n['aviso'], 'aviso')}, {count(n['erro'], 'erro')}.")
    return "\n".join(lines)


def held_lines(held):
    """The requests the guard held back, one line each (nothing when there were none)."""
    out = []
    for h in held:
        request = f" (p_request={h['pedido']})" if h.get("pedido") else ""
        kind = "submissão do formulário" if h["navegacao"] else "submissão por ajax"
        out.append(f"  retido: {kind} {h['metodo']} {h['url']}{request}")
    return out
