"""Fake pages for the check, the receipt and the guard: the recording FakePage, answering the
module's page scripts from a small model of a form, and Playwright's route and request."""
import asyncio
import pathlib

from fakepage import FakePage

SCRIPTS_DIR = pathlib.Path(__file__).resolve().parents[2] / "native" / "vexoconferencia" / "scripts"


def script_name(text):
    """The file stem of the module's page script whose text is `text`."""
    for path in SCRIPTS_DIR.glob("*.js"):
        if path.read_text(encoding="utf-8") == text:
            return path.stem
    return None


def element(tag="input", **kw):
    """What the probe script says about the first element a selector finds."""
    facts = {"invalid": False, "count": 1, "tag": tag, "type": "text" if tag == "input" else "",
             "multiple": False, "disabled": False, "visible": True, "group": False,
             "datePicker": False, "format": None, "apex": True, "apexItem": True}
    facts.update(kw)
    return facts


class ModelPage(FakePage):
    """Answers the probe script from `elements` (selector -> element facts), `options` (item id
    -> [(type, disabled), ...] for the option inputs id_0, id_1, ...) and `lov_buttons` (item
    ids whose id_lov_btn exists). The read-back scripts answer through `read` (item id ->
    answer dict) and `grid` (add selector -> answer dict)."""

    def __init__(self, elements=None, options=None, lov_buttons=(), read=None, grid=None):
        super().__init__()
        self.elements = dict(elements or {})
        self.options = dict(options or {})
        self.lov_buttons = set(lov_buttons)
        self.read = dict(read or {})
        self.grid = dict(grid or {})
        self.scripts = []

    async def evaluate(self, script, *args):
        self.ops.append(("evaluate", None, {"script": script, "args": args}))
        await asyncio.sleep(0)
        name = script_name(script)
        self.scripts.append((name, args[0] if args else None))
        return getattr(self, "_" + name)(*args)

    def _sondar_item(self, arg):
        sel, item_id, suffixes = arg
        if "[[" in sel:
            return {"invalid": True, "error": f"'{sel}' is not a valid selector"}
        facts = dict(self.elements.get(sel, {"invalid": False, "count": 0, "apex": True, "apexItem": False}))
        opts = self.options.get(item_id, [])
        facts["options"] = len(opts)
        facts["optionTypes"] = sorted({t for t, _ in opts})
        facts["suffixes"] = []
        for s in suffixes:
            i = int(s) if s.isdigit() else -1
            if 0 <= i < len(opts):
                facts["suffixes"].append({"exists": True, "type": opts[i][0], "disabled": opts[i][1]})
            else:
                facts["suffixes"].append({"exists": False})
        facts["lovButton"] = item_id in self.lov_buttons
        return facts

    def _ler_item(self, arg):
        sel, item_id, kind, suffix = arg
        answer = self.read.get(item_id)
        if answer is None:
            return {"found": False, "value": None, "display": None, "option": None, "optionFound": False}
        out = {"found": True, "display": None, "option": None, "optionFound": False}
        out.update(answer)
        options = answer.get("options", {})
        if suffix is not None and suffix in options:
            out["option"], out["optionFound"] = options[suffix], True
        return out

    def _ler_grade(self, arg):
        add_sel, columns = arg
        answer = self.grid.get(add_sel)
        if answer is None:
            return {"readable": False, "reason": "add"}
        cols = []
        for item_id, kind, wanted in columns:
            column = answer["columns"].get(item_id, {})
            shown = column.get("shown", lambda w: w)
            cols.append({"index": column.get("index", -1),
                         "shown": [None if w is None else shown(w) for w in wanted]})
        return {"readable": True, "headers": answer.get("headers", []), "rows": answer["rows"], "columns": cols}


class FakeRequest:
    def __init__(self, method, url, navigation, form=None):
        self.method, self.url, self.navigation, self.form = method, url, navigation, form

    def is_navigation_request(self):
        return self.navigation

    @property
    def post_data_json(self):
        if isinstance(self.form, Exception):
            raise self.form
        return self.form


class FakeRoute:
    def __init__(self, raises=None):
        self.calls = []
        self.raises = raises

    async def abort(self, error_code=None):
        self.calls.append(("abort", error_code))
        if self.raises:
            raise self.raises

    async def fallback(self, **kw):
        self.calls.append(("fallback",))
        if self.raises:
            raise self.raises


class RoutingPage(FakePage):
    """A FakePage with Playwright's page.route / page.unroute / is_closed."""

    def __init__(self):
        super().__init__()
        self.routes = []
        self.closed = False

    async def route(self, url, handler):
        self.ops.append(("route", url, {"handler": handler}))
        await asyncio.sleep(0)
        self._outcome("route", url, {})
        self.routes.append((url, handler))

    async def unroute(self, url, handler=None):
        self.ops.append(("unroute", url, {"handler": handler}))
        await asyncio.sleep(0)
        self._outcome("unroute", url, {})
        self.routes = [(u, h) for u, h in self.routes if not (u == url and (handler is None or h == handler))]

    def is_closed(self):
        return self.closed

    async def request(self, method, url, navigation=False, form=None, route=None):
        """Sends one request through the routed handlers, the last routed first, as Playwright
        does; gives the route object (its calls say what the handler did)."""
        route = route or FakeRoute()
        req = FakeRequest(method, url, navigation, form)
        for _, handler in reversed(self.routes):
            await handler(route, req)
            if route.calls and route.calls[-1][0] != "fallback":
                break
        return route
