"""One fill as the commands that fill run it: under the pacing --ritmo names, the never-submit
guard raised around it, its progress (and, with --perfil, its time profile) from its events,
then what the guard held back, the receipt read back from the page (--recibo) and the profile
(--perfil)."""
from ziveviver import ritmo

from . import profile as _profile
from .frames import is_gone
from . import receipt
from .cli import exc_text, say, warn
from .progress import fill_form, live_view


class Filled:
    """What a guarded fill gives: the fill's outcome, the requests the guard held back, and
    the profile (None without --perfil)."""

    def __init__(self, outcome, held, profile):
        self.outcome, self.held, self.profile = outcome, held, profile


# The runner's pacing unless --ritmo says otherwise (the library's own default stays literal).
RUNNER_PACING = ritmo.ADAPTATIVO


def add_pacing_option(p):
    """--ritmo, for every command that fills (preencher, lote, demo)."""
    p.add_argument("--ritmo", choices=ritmo.NOMES, default=RUNNER_PACING,
                   help="pausas do preenchimento: esperas pelo APEX pronto, com as pausas fixas "
                        "como recurso (adaptativo, por omissão), ou só as pausas fixas (literal)")


def add_options(p):
    """The options every command that fills one form shares (preencher, demo): --ritmo, --perfil."""
    add_pacing_option(p)
    _profile.add_option(p)


async def guarded_fill(page, mapping, data, *, guard=True, pacing=ritmo.LITERAL, debug=False,
                       perfil=None, view=None, controller_out=None):
    """Fills the form under `pacing` (progress on `view`, the live bar or plain lines by
    default) with the guard raised unless `guard` is false; the guard is lifted before this
    returns."""
    from ziveviver.vexoconferencia import fCtAtivarGuarda, fCtDesativarGuarda

    prof = _profile.Profile() if perfil else None
    if guard:
        await fCtAtivarGuarda(page)
    held = []
    try:
        with ritmo.definir(pacing):
            outcome = await fill_form(page, mapping, data, debug=debug, view=view or live_view(),
                                      observers=[prof] if prof else [], controller_out=controller_out)
    finally:
        if guard and not is_gone(page):
            try:
                held = await fCtDesativarGuarda(page)
            except Exception as e:  # noqa: BLE001 - the fill's own outcome comes first
                warn(f"não foi possível levantar a guarda: {exc_text(e)}")
    return Filled(outcome, held, prof)


def say_held(held):
    """What the guard held back, when it held anything."""
    if held:
        n = len(held)
        say(f"A guarda reteve {n} {'submissão' if n == 1 else 'submissões'} durante o preenchimento "
            "(o formulário não foi enviado):")
        for line in receipt.held_lines(held):
            say(line)


async def say_receipt(page, mapping, data, recibo, rows_out=None):
    """Reads what landed back from the page, prints it and writes it to `recibo` (when given);
    True when every field landed. The rows are also added to `rows_out` (a list) when given."""
    from ziveviver.vexoconferencia import fCtConferirForm

    rows = await fCtConferirForm(page, mapping, data)
    if rows_out is not None:
        rows_out.extend(rows)
    say(receipt.receipt_table(rows))
    if recibo:
        receipt.write_receipt(rows, recibo)
        say(f"Recibo gravado em {recibo}")
    if receipt.receipt_failed(rows):
        warn("há campos que não ficaram como os dados dizem (veja o recibo acima).")
        return False
    return True


def say_profile(filled, perfil):
    """The time profile (--perfil), written to its JSON file when one was named."""
    if filled.profile is None:
        return
    say(_profile.table(filled.profile, filled.outcome.wall_ms))
    if perfil is not True:
        _profile.write(filled.profile, filled.outcome.wall_ms, perfil)
        say(f"Perfil gravado em {perfil}")


def pacing_words(name):
    """How a summary names the pacing a fill ran under."""
    if name == RUNNER_PACING:
        return f"ritmo {name} (o do executor por omissão; --ritmo literal para as pausas fixas)"
    return f"ritmo {name}"
