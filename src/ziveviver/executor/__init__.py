"""The ``ziveviver`` command line (``python -m ziveviver``, the ``ziveviver`` console script).

One module per command, each with ``add_parser(subparsers)`` (its options and help; it sets
``executar`` to the function that runs the command and returns the exit status). A command is
added by writing its module and listing it in ``COMMANDS``, here; nothing else changes. The
commands share: ``cli`` (parser, help and errors in Portuguese, exit statuses, output lines),
``inputs`` (the address, the mapping, data and session files, read and checked the same way
for every command), ``browser`` (the one opening of a browser and its page: launch, attach,
tabs, page loading), ``progress`` (following a fill), ``receipt`` (the receipt and the check's
findings as tables and files) and ``evidence`` (what a fill that went wrong leaves behind).
"""
from . import cli, cmd_demo, cmd_entrar, cmd_lote, cmd_mapear, cmd_preencher, cmd_verificar

# Every command of the command line, in the order its help lists them.
COMMANDS = (cmd_demo, cmd_verificar, cmd_mapear, cmd_preencher, cmd_lote, cmd_entrar)


def main(argv=None):
    args = cli.build_parser(COMMANDS).parse_args(argv)
    return args.executar(args)
