"""``ziveviver lote``: many records filled into the same form, ahead of the operator who
reviews and submits each one.

Checks the mapping and every record before any browser opens; then fills the records still to
do (a status file beside the report remembers what earlier runs did) in up to ``--abas`` tabs,
hands them to the operator one at a time and writes the report as it goes.
"""
import pathlib

from ziveviver import ritmo

from . import binding
from . import browser as _browser
from . import frames as _frames
from . import records as recs
from . import statusfile as st
from .cli import (BAD_INPUT, FAILED, INTERRUPTED, OK, InputError, browser_options,
                  command_parser, count, fail, reconfigure_output, report, require, run_guarded,
                  say, warn)
from .evidence import Trace
from .evidence import add_options as add_evidence_options
from .evidence import check_options as check_evidence_options
from .fill import add_pacing_option
from .inputs import check_mapping, load_json, page_address, read_session
from .tabs import STOP_BY_OPERATOR, STOP_BY_SIGNAL, Batch

TERMINATED = 143  # stopped by SIGTERM, as a shell reports a process it ended

LOTE_DOC = """\
Preenche o mesmo formulário uma vez por registo, à frente do operador: enquanto este revê e
submete um separador, os seguintes já estão a ser preenchidos. Nunca submete: cada formulário
é submetido pelo operador, no botão da própria aplicação. Ctrl+C pergunta se ignora o registo
à frente ou se para. Preenche com o ritmo adaptativo (espera pelo APEX pronto), salvo
--ritmo literal (só as pausas fixas).

Os registos vêm de um ficheiro .json (uma lista), .jsonl (um por linha), .csv (separado por ,
ou ;) ou .xlsx (a primeira folha, ou --folha). CSV e XLSX trazem só campos simples: o
cabeçalho dá as colunas; numa lista de valores (multiselect) separe-os com | (PT|EN).

Um ficheiro de estado ao lado do relatório (.estado.jsonl) guarda cada mudança no momento:
correndo de novo com os mesmos ficheiros, os registos submetidos ou ignorados ficam como estão
e os outros (os que falharam ou a aplicação recusou incluídos) voltam a ser preenchidos. Um
registo cuja submissão foi enviada sem que a resposta chegasse (a execução morreu entretanto)
fica "submissão por confirmar": não volta a ser preenchido sem --refazer CHAVE. Também fica
assim o registo que uma execução terminada à força deixou preenchido num navegador já aberto
(--cdp) e cujo separador a execução seguinte não encontra no formulário: pode ter sido
submetido entretanto.

exemplos:
  ziveviver lote --url https://apex.exemplo/ords/r/app/proposta --mapa mapa.json \\
      --registos propostas.xlsx --chave NIF --estado login.json
  ziveviver lote --url ... --mapa mapa.json --registos propostas.csv --parte 2/4

estado de saída: 0 todos os registos submetidos ou ignorados; 1 algum falhou, ficou por
submeter ou por confirmar, ou o navegador foi fechado; 2 argumentos ou ficheiros inválidos, ou
o ficheiro de estado em uso por outra execução; 130 parado pelo operador; 143 terminado por
SIGTERM."""


def prepare(args):
    """Everything that needs no browser: arguments, mapping, records, part, status, report.
    Raises InputError."""
    require(args, ("url", "--url"), ("mapa", "--mapa"), ("registos", "--registos"))
    if args.abas < 1:
        raise InputError(["--abas tem de ser pelo menos 1."])
    if args.cdp and (args.navegador or args.canal):
        raise InputError(["--cdp usa o navegador já aberto: não se combina com --navegador nem --canal."])
    if args.tempo_limite <= 0:
        raise InputError(["--tempo-limite tem de ser maior que 0."])
    if args.relatorio and pathlib.Path(args.relatorio).suffix.lower() not in st.REPORT_FORMATS:
        raise InputError([f"--relatorio: use um ficheiro .csv ou .json (não {args.relatorio!r})."])
    part = recs.parse_part(args.parte) if args.parte else None
    check_evidence_options(args.evidencias, args.traco)
    args.url = page_address(args.url)
    mapping = load_json(args.mapa, "mapa")
    problems, warnings = check_mapping(mapping, f"mapa {args.mapa}")
    if problems:
        raise InputError(problems)
    rows, fmt = recs.read_rows(args.registos, args.folha)
    records, more = recs.make_records(rows, fmt, mapping, args.chave)
    report_path, status_path = st.report_paths(args.relatorio, args.registos, part)
    args.refazer_chaves = _redo_keys(args.refazer, records)
    read_session(args)
    return mapping, recs.select_part(records, part), part, report_path, status_path, warnings + more


def _redo_keys(text, records):
    """The keys of --refazer, each one a record's."""
    if not text:
        return set()
    keys = [k.strip() for k in text.split(",") if k.strip()]
    known = {rec.key for rec in records}
    unknown = [k for k in keys if k not in known]
    if not keys or unknown:
        what = ", ".join(unknown) if unknown else repr(text)
        raise InputError([f"--refazer: {what} não é chave de nenhum registo (escreva as chaves "
                          "separadas por vírgulas)."])
    return set(keys)


async def _lote(args, mapping, records, part, report_path, status):
    from playwright.async_api import async_playwright

    todo, unconfirmed, notes = st.resume_plan(records, status, args.refazer_chaves)
    for line in notes:
        say(line)
    left_sent = [rec for rec in unconfirmed if status.last(rec.key) == "a_submeter"]
    left_open = {rec.key for rec in st.left_open(todo, status, args.refazer_chaves)}
    if todo or left_sent:
        status.start_run(args.registos, part, cdp=bool(args.cdp))
    for rec in left_sent:  # a run died between the submit and its answer
        status.record(rec, "por_confirmar", motivo=f"{st.UNCONFIRMED_TEXT}: a execução terminou "
                      "antes da resposta da aplicação")
    if report_path.exists():  # brought up to date; a new one is written with the first record
        st.write_report(report_path, st.report_rows(records, status))
    if not todo:
        say("Nada a fazer: não há registos por preencher.")
        return _unconfirmed_exit(records, status, OK)
    of = "" if len(todo) == len(records) else f" de {len(records)}"
    say(f"A preencher {count(len(todo), 'registo')}{of} em até "
        f"{count(args.abas, 'separador', 'separadores')}.")
    status.listeners.append(lambda: st.write_report(report_path, st.report_rows(records, status)))
    hint = ("A sessão guardada pode ter expirado: volte a correr 'ziveviver entrar'." if args.estado
            else "Se a aplicação pede o login, use --estado (ver 'ziveviver entrar') ou --cdp.")
    async with async_playwright() as pw:
        _, context, owned = await _browser.open_context(pw, args, headless=False)
        batch = Batch(context, args.url, mapping, todo, status, tabs=args.abas,
                      debug=args.debug, limit_s=args.tempo_limite, hint=hint, evidence=args.evidencias,
                      quadro=args.quadro, left_open=left_open)
        trace = Trace(args.traco)
        await trace.start(context)
        with ritmo.definir(args.ritmo):  # the tasks that fill the tabs are created inside it
            stopped = await batch.run()
        await trace.save()
        if owned and context.browser and context.browser.is_connected():
            await context.browser.close()
    counts = {}
    for row in st.report_rows(records, status):
        counts[row["resultado"]] = counts.get(row["resultado"], 0) + 1
    say("Resumo: " + ", ".join(st.state_count(n, state) for state, n in sorted(counts.items())) + ".")
    say(f"Relatório: {report_path}  Estado: {status.path}")
    if stopped == STOP_BY_OPERATOR:
        return INTERRUPTED
    if stopped == STOP_BY_SIGNAL:
        return TERMINATED
    if stopped:
        fail(f"a execução parou: {stopped}")
    if batch.failed:
        one = batch.failed == 1
        fail(f"{count(batch.failed, 'registo')} {'falhou' if one else 'falharam'}; corra o mesmo "
             f"comando para {'o tentar' if one else 'os tentar'} de novo.")
    left = counts.get("parado", 0)
    if left and not stopped:  # tabs closed before their form was submitted
        fail(f"{count(left, 'registo')} {'ficou' if left == 1 else 'ficaram'} por submeter; corra o "
             "mesmo comando para os preencher de novo.")
    return _unconfirmed_exit(records, status, FAILED if stopped or batch.failed or left else OK)


def _unconfirmed_exit(records, status, code):
    """A record whose submission is unconfirmed is not done: the operator must look."""
    unsure = [rec.key for rec in records if status.last(rec.key) in st.UNCONFIRMED]
    if unsure:
        fail(f"{count(len(unsure), 'registo')} com a {st.UNCONFIRMED_TEXT} ({', '.join(unsure)}): "
             "confirme na aplicação; para preencher de novo um que não ficou registado, corra com "
             "--refazer CHAVE[,CHAVE...].")
        return code or FAILED
    return code


def run(args):
    reconfigure_output()
    try:
        mapping, records, part, report_path, status_path, warnings = prepare(args)
    except InputError as e:
        report(e)
        return BAD_INPUT
    for w in warnings:
        warn(w)
    try:
        status = st.StatusFile(status_path)
    except st.InUse:
        fail(f"outra execução está a usar o ficheiro de estado {status_path}; cada execução (ou "
             "cada --parte) precisa do seu (estado de saída 2).")
        return BAD_INPUT
    except OSError as e:
        fail(f"não foi possível abrir o ficheiro de estado {status_path}: {e.strerror or e}")
        return FAILED
    for w in status.warnings:
        warn(w)
    other = binding.mismatch(status.lines, args.registos)
    if other is not None:
        status.close()
        fail(f"o ficheiro de estado {status_path} é dos registos {other}, não de {args.registos}; "
             "para estes registos indique outro relatório com --relatorio (o ficheiro de estado "
             "fica ao lado dele).")
        return BAD_INPUT
    first_new = len(status.lines)

    def interrupted():
        fail("interrompido pelo utilizador.")
        return INTERRUPTED

    try:
        return run_guarded(_lote(args, mapping, records, part, report_path, status), interrupted)
    finally:
        # a run that filled nothing leaves no new report behind
        if report_path.exists() or any("chave" in line for line in status.lines[first_new:]):
            st.write_report(report_path, st.report_rows(records, status))
        status.close()


def add_parser(subparsers):
    """Adds the `lote` command to the command line's subparsers."""
    p = command_parser(subparsers, "lote", "preenche um formulário por registo, à frente do "
                        "operador, em vários separadores", LOTE_DOC)
    p.add_argument("--url", help="endereço do formulário (ou de um ficheiro local)")
    p.add_argument("--mapa", metavar="MAPA.json", help="mapa: coluna dos dados -> item da página")
    p.add_argument("--registos", metavar="FICHEIRO", help="os registos: .json, .jsonl, .csv ou .xlsx")
    p.add_argument("--folha", metavar="NOME", help="a folha do .xlsx (por omissão, a primeira)")
    p.add_argument("--chave", metavar="COLUNA",
                   help="coluna que identifica cada registo (por omissão, a posição no ficheiro)")
    p.add_argument("--abas", type=int, default=2, metavar="N",
                   help="quantos separadores abertos, preenchidos à frente (2)")
    p.add_argument("--relatorio", metavar="FICHEIRO",
                   help="relatório .csv ou .json (por omissão, REGISTOS.EXT.relatorio.csv, por "
                        "exemplo propostas.xlsx.relatorio.csv); o ficheiro de estado fica ao lado")
    p.add_argument("--parte", metavar="K/N",
                   help="só os registos K, K+N, K+2N, ... (para repartir a lista por várias máquinas)")
    p.add_argument("--refazer", metavar="CHAVE[,CHAVE...]",
                   help="preenche de novo estes registos com a submissão por confirmar (depois de "
                        "confirmar na aplicação que não ficaram registados)")
    add_pacing_option(p)
    _frames.add_option(p)
    add_evidence_options(p)
    browser_options(p, headless=False)
    g = p.add_mutually_exclusive_group()
    g.add_argument("--estado", metavar="LOGIN.json", help="sessão guardada por 'ziveviver entrar'")
    g.add_argument("--cdp", metavar="ENDEREÇO",
                   help="usa um navegador já aberto (ex.: http://127.0.0.1:9222)")
    p.add_argument("--debug", action="store_true", help="escreve o registo de depuração (Logs/)")
    p.set_defaults(executar=run)
    return p
