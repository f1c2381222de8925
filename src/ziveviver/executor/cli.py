"""The command line itself: the parser and its Portuguese help and errors, the exit statuses,
the errors a command reports, and the lines it writes for the user."""
import argparse
import asyncio
import re
import sys
import types

# Exit statuses: 0 the fill ran to its end; 1 it failed or stayed incomplete; 2 bad input
# (arguments or files, reported before any browser opens); 130 interrupted by the user.
OK, FAILED, BAD_INPUT, INTERRUPTED = 0, 1, 2, 130


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


def report(error):
    """Every problem of an InputError, one line each."""
    for line in error.problems:
        if line.startswith("    "):  # the quoted line of a JSON error and its caret
            print(line, file=sys.stderr, flush=True)
        else:
            fail(line)


def require(args, *pairs):
    missing = [flag for attr, flag in pairs if not getattr(args, attr)]
    if missing:
        raise InputError([f"falta {' e '.join(missing)}."])


def reconfigure_output():
    for stream in (sys.stdout, sys.stderr):
        try:
            stream.reconfigure(errors="replace")
        except (AttributeError, ValueError):
            pass


def run_guarded(main, interrupted, failures=()):
    """Runs a command's coroutine `main` to its end and returns what it returns. A failure
    becomes one "Erro:" line and FAILED: a RunError with its own message, an exception of a
    type in `failures` (pairs of type and a function giving the message), any other error as
    unexpected. On Ctrl+C, `interrupted()` says what happened and gives the exit status."""
    try:
        return asyncio.run(main)
    except RunError as e:
        fail(str(e))
        return FAILED
    except Exception as e:  # noqa: BLE001 - the user gets a line, not a traceback
        for kind, text in failures:
            if isinstance(e, kind):
                fail(text(e))
                return FAILED
        fail(f"falha inesperada: {exc_text(e)}")
        return FAILED
    except KeyboardInterrupt:
        return interrupted()


def exc_text(e):
    first = str(e).strip().splitlines()[0] if str(e).strip() else ""
    return f"{type(e).__name__}: {first}" if first else type(e).__name__


def count(n, singular, plural=None):
    """"1 campo", "2 campos": the count with the word in the number it takes."""
    return f"{n} {singular if n == 1 else plural or singular + 's'}"


def secs(s):
    return f"{round(s, 1):g} s"


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


def _in_portuguese(p):
    """Portuguese headings, help option and errors for a parser made with `_Formatter`."""
    p._optionals.title = "opções"
    p._positionals.title = "argumentos"
    p.add_argument("-h", "--help", action="help", help="mostra esta ajuda e termina")
    p.error = types.MethodType(_pt_error, p)
    return p


def command_parser(subparsers, name, help_text, description=None):
    """A command's parser with Portuguese usage, headings and errors."""
    return _in_portuguese(subparsers.add_parser(name, help=help_text, description=description or
                                                help_text[:1].upper() + help_text[1:] + ".",
                                                add_help=False, formatter_class=_Formatter))


def browser_options(p, headless):
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


def build_parser(commands):
    """The ``ziveviver`` parser with one subcommand per module of `commands` (each module's
    ``add_parser(subparsers)`` sets ``executar`` to the function that runs it)."""
    parser = _in_portuguese(argparse.ArgumentParser(
        prog="ziveviver", description="Preenche formulários APEX a partir de um mapa e dos dados; nunca os submete.",
        epilog="Ajuda de cada comando: ziveviver COMANDO --help", add_help=False, formatter_class=_Formatter))
    sub = parser.add_subparsers(dest="comando", required=True, title="comandos", metavar="COMANDO")
    for module in commands:
        module.add_parser(sub)
    return parser
