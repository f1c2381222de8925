"""Where a fill's time went (``--perfil``), from its events: per widget kind, the fields'
count, their time in page operations and in pauses; the grid rows' own steps (the add and
save buttons); per pause point, how often it paused and for how long; and the total the
events account for beside the fill's wall time."""
import json
import pathlib

from .cli import InputError

BUTTONS = "botões das grelhas"  # the rows' own steps, around their cells
REST = "fora dos campos"  # what the sections spent outside fields and rows


class _Line:
    def __init__(self):
        self.count = 0
        self.ops_ms = 0.0
        self.pause_ms = 0.0


class Profile:
    """An observer of a fill's events that adds up its time."""

    def __init__(self):
        self.kinds = {}  # widget kind -> _Line
        self.points = {}  # pause point -> [count, planned ms, spent ms]
        self.total_ms = 0.0  # the sections' time, all the events account for
        self._pause = None  # pauses of the field or row being timed, in ms
        self._in_field = False
        self._row_inner_ms = 0.0  # the current row's cells and their pauses

    def __call__(self, event):
        kind = event["evento"]
        if kind == "pausa":
            point = self.points.setdefault(event["ponto"], [0, 0.0, 0.0])
            point[0] += 1
            point[1] += event["planeado_ms"]
            point[2] += event["gasto_ms"]
            if self._pause is not None:
                self._pause[-1] += event["gasto_ms"]
        elif kind == "campo_inicio":
            self._enter()
        elif kind == "campo_fim":
            self._leave(str(event["tipo"]).lower(), event["duracao_ms"])
            if event["linha"] is not None:
                self._row_inner_ms += event["duracao_ms"]
        elif kind == "linha_inicio":
            self._enter()
            self._row_inner_ms = 0.0
        elif kind in ("linha_gravada", "linha_ignorada"):
            # the row's time less its cells: its buttons and their pauses
            self._leave(BUTTONS, event["duracao_ms"] - self._row_inner_ms)
        elif kind == "secao_fim":
            self.total_ms += event["duracao_ms"]

    # Pauses nest: a field's inside a row's. Each level keeps its own sum.
    def _enter(self):
        self._pause = [0.0] if self._pause is None else self._pause + [0.0]

    def _leave(self, name, took_ms):
        paused = self._pause.pop() if self._pause else 0.0
        if not self._pause:
            self._pause = None
        line = self.kinds.setdefault(name, _Line())
        line.count += 1
        line.pause_ms += paused
        line.ops_ms += took_ms - paused

    def as_dict(self, wall_ms):
        accounted = sum(line.ops_ms + line.pause_ms for line in self.kinds.values())
        kinds = [{"tipo": name, "n": line.count, "operacoes_ms": round(line.ops_ms, 1),
                  "pausas_ms": round(line.pause_ms, 1), "total_ms": round(line.ops_ms + line.pause_ms, 1)}
                 for name, line in self.kinds.items()]
        rest = self.total_ms - accounted
        kinds.append({"tipo": REST, "n": None, "operacoes_ms": round(rest, 1), "pausas_ms": 0.0,
                      "total_ms": round(rest, 1)})
        return {
            "tipos": kinds,
            "pausas": [{"ponto": p, "n": n, "planeado_ms": round(planned, 1), "gasto_ms": round(spent, 1)}
                       for p, (n, planned, spent) in self.points.items()],
            "total_ms": round(self.total_ms, 1),
            "parede_ms": round(wall_ms, 1),
        }


def _s(ms):
    return f"{ms / 1000:.2f} s"


def table(profile, wall_ms):
    """The profile as text (a table per widget kind, one per pause point, and the totals)."""
    d = profile.as_dict(wall_ms)
    lines = ["Perfil do preenchimento:",
             f"  {'tipo de campo':<22} {'n':>4} {'operações':>11} {'pausas':>11} {'total':>11}"]
    for k in d["tipos"]:
        n = "" if k["n"] is None else k["n"]
        lines.append(f"  {k['tipo']:<22} {n:>4} {_s(k['operacoes_ms']):>11} {_s(k['pausas_ms']):>11} "
                     f"{_s(k['total_ms']):>11}")
    if d["pausas"]:
        lines.append(f"  {'ponto de pausa':<22} {'n':>4} {'previsto':>11} {'gasto':>11}")
        for p in d["pausas"]:
            lines.append(f"  {p['ponto']:<22} {p['n']:>4} {_s(p['planeado_ms']):>11} {_s(p['gasto_ms']):>11}")
    share = 100 * d["total_ms"] / d["parede_ms"] if d["parede_ms"] else 100.0
    lines.append(f"  total: {_s(d['total_ms'])} contados nos eventos, {_s(d['parede_ms'])} de relógio "
                 f"({share:.1f} %)")
    return "\n".join(lines)


def check_path(path):
    """Refuses a --perfil file that is not .json, before anything starts."""
    if path is not True and pathlib.Path(path).suffix.lower() != ".json":
        raise InputError([f"--perfil: use um ficheiro .json (não {path!r})."])


def write(profile, wall_ms, path):
    path = pathlib.Path(path)
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_text(json.dumps(profile.as_dict(wall_ms), ensure_ascii=False, indent=2) + "\n",
                    encoding="utf-8")


def add_option(p):
    """The --perfil option of a command that fills."""
    p.add_argument("--perfil", nargs="?", const=True, metavar="FICHEIRO.json",
                   help="no fim, mostra onde foi o tempo (por tipo de campo e por pausa); com um "
                        "ficheiro, grava-o também em JSON")
