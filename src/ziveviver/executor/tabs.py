"""Filling ahead of the operator: up to N tabs of one browser context, one record each.

A feeder opens a tab for the next record whenever a slot is free and fills it under the
never-submit guard; the guard is lifted when the fill ends and the receipt is read back. The
presenter takes the filled tabs in the records' order (a tab that is ready is not held back
by a slower fill of an earlier record): it brings each to the front, shows its
receipt summary (in the terminal and in a banner in the page that covers nothing) and waits
for the operator. The form's own submit (see ``submission``) is recorded ``a_submeter`` before
its request leaves the browser, whichever tab it happens in; its answer makes the record
``submetido`` (the tab is closed, which frees its slot for the next record) or, when the
application shows errors, ``rejeitado`` (the tab stays for the operator to correct and submit
again). Ctrl+C asks the operator whether to skip the record in front or stop the run; SIGTERM
stops it. Before filling anything, the tabs a run that died left are closed.
"""
import asyncio
import json
import signal
import sys
import threading
import time

from ziveviver import ritmo

from . import receipt
from . import statusfile as st
from . import submission as sub
from .background_tabs import keep_drawn
from .browser import goto, require_fields
from .cli import RunError, exc_text, say
from .evidence import Evidence
from .fill import guarded_fill
from .frames import form_frame
from .progress import LinesView

# A banner along the top of the page that lets every click through to the form beneath.
BANNER = """(info) => {
  let el = document.getElementById(info.id);
  if (!el) {
    el = document.createElement("div");
    el.id = info.id;
    el.setAttribute("role", "status");
    document.body.appendChild(el);
  }
  el.style.cssText = "position:fixed;top:0;left:0;right:0;z-index:999999;pointer-events:none;" +
    "padding:8px 16px;font:15px Arial,sans-serif;color:#fff;box-shadow:0 2px 6px rgba(0,0,0,.4);" +
    "background:" + (info.ok ? "#2e7d32" : "#c62828");
  el.textContent = info.text;
}"""
BANNER_ID = "zv-lote-aviso"
CLOSE_WAIT_S = 10  # how long a tab may take to close
STOP_BY_OPERATOR = "execução parada pelo operador"
STOP_BY_SIGNAL = "execução terminada por um sinal (SIGTERM)"


class FillStopped(Exception):
    """The fill of a record stopped; its message says where and why."""


class Tab:
    """One record's tab, from its opening until it is closed."""

    def __init__(self, rec, page, release):
        self.rec, self.page = rec, page
        self.form = page  # the page, or the frame of the dialog page that holds the form
        self._release = release
        self.ended = asyncio.get_running_loop().create_future()  # the record's last state
        self.armed = False  # set once the guard is lifted: from then on a submit is the operator's
        self.posted = False  # a submit is on its way (a_submeter), its answer not yet read
        self.submit = None  # its request
        self.expect_page = False  # the next page is its answer (a form POST, or an accepted ajax submit)
        self.answered = asyncio.Event()  # the ajax submit's answer has been read
        self.ready_at = None
        self.waited = None  # how long the operator waited for this tab (when it was presented)
        self.receipt = None

    def release(self):
        if self._release:
            self._release, release = None, self._release
            release()


class Batch:
    def __init__(self, context, url, mapping, records, status, *, tabs=2, debug=False,
                 limit_s=60.0, hint="", write=say, evidence=None, quadro=None, left_open=()):
        self.context, self.url, self.mapping = context, url, mapping
        self.records, self.status, self.tabs = records, status, tabs
        self.debug, self.limit_s, self.hint, self.write = debug, limit_s, hint, write
        self.evidence = evidence  # the folder of --evidencias, or None
        self.quadro = quadro  # --quadro: the iframe that holds the form
        # keys whose form a run that died left open in the operator's browser (see _close_old_tabs)
        self.left_open = set(left_open)
        self.open = {}  # key -> Tab, for every tab not yet closed
        self.current = None  # the tab in front of the operator
        self.free_since = None  # when the operator last had nothing to do
        self.stop_reason = None
        self.stopped = asyncio.Event()
        self.interrupt = asyncio.Event()
        self.asking = False
        self.failed = 0
        self._fills = set()  # the tasks that open and fill a tab
        self._queue = []  # the fills not yet taken by the presenter, in the records' order
        self._changed = asyncio.Event()
        self._fed = False
        self._closing = set()  # the tasks that close a tab
        self.run_id = sub.run_id(status.path)  # marks this status file's tabs

    # -------------------------------------------------------------- the run

    async def run(self):
        """Fills and presents every record; returns the reason the run stopped early, if any."""
        await self._close_old_tabs()
        self.free_since = time.monotonic()
        slots = asyncio.Semaphore(self.tabs)
        browser = self.context.browser

        def closed(*_):
            self.stop("o navegador foi fechado")
        if browser is not None:
            browser.on("disconnected", closed)
        feeder = asyncio.create_task(self._feed(slots))
        restore = self._catch_interrupts()
        try:
            while not self.stopped.is_set():
                task = await self._attend(self._next_done())
                if task is None:
                    break
                tab = task.result()
                if tab is not None:
                    await self._present(tab)
        finally:
            restore()
            if browser is not None:
                browser.remove_listener("disconnected", closed)
            pending = [feeder] + [t for t in self._fills if not t.done()]
            for task in pending:
                task.cancel()
            await asyncio.gather(*pending, return_exceptions=True)
            await self._close_open(self.stop_reason or "a execução terminou antes da submissão")
        return self.stop_reason

    async def _feed(self, slots):
        for rec in self.records:
            await slots.acquire()
            self._queue.append(self._spawn(self._prepare(rec, slots.release), self._fills))
            self._changed.set()
        self._fed = True
        self._changed.set()

    async def _next_done(self):
        """The first fill, in the records' order, that has ended (a tab filled later is not
        held back by a slower one before it); None when every record has been taken."""
        while True:
            for task in self._queue:
                if task.done():
                    self._queue.remove(task)
                    return task
            if self._fed and not self._queue:
                return None
            self._changed.clear()
            changed = asyncio.ensure_future(self._changed.wait())
            await asyncio.wait([changed, *self._queue], return_when=asyncio.FIRST_COMPLETED)
            changed.cancel()

    def _spawn(self, coro, tasks=None):
        tasks = self._closing if tasks is None else tasks
        task = asyncio.create_task(coro)
        tasks.add(task)
        task.add_done_callback(tasks.discard)
        return task

    def stop(self, reason):
        if self.stop_reason is None:
            self.stop_reason = reason
            self.write(f"A parar: {reason.rstrip('.')}.")
        self.stopped.set()

    async def _attend(self, awaitable):
        """Waits for `awaitable`, answering the operator's Ctrl+C meanwhile; None when the run
        stops first."""
        fut = asyncio.ensure_future(awaitable)
        while True:
            waits = {fut, asyncio.ensure_future(self.stopped.wait()),
                     asyncio.ensure_future(self.interrupt.wait())}
            done, _ = await asyncio.wait(waits, return_when=asyncio.FIRST_COMPLETED)
            for w in waits - {fut}:
                w.cancel()
            if fut in done:
                return fut.result()
            if self.stopped.is_set():
                if asyncio.iscoroutine(awaitable):
                    fut.cancel()  # a wait of our own; tasks and tabs' futures are left alone
                return None
            self.interrupt.clear()
            await self._ask()

    # -------------------------------------------------------------- filling

    async def _prepare(self, rec, release):
        """Opens a tab for `rec` and fills it; the tab, ready, or None when it failed."""
        started = time.monotonic()
        tab = None
        try:
            page = await self.context.new_page()
            await keep_drawn(page)  # the tabs behind the one in front fill as fast as it
            tab = Tab(rec, page, release)
            self.open[rec.key] = tab
            self.write(f"Registo {rec.position} (chave {rec.key}): a preencher num separador novo...")
            await goto(page, self.url, self.limit_s)
            tab.form = await form_frame(page, self.mapping, rec.data, self.quadro, write=lambda _line: None)
            await tab.form.evaluate(sub.MARK, sub.mark_arg(self.run_id, rec.key))
            await require_fields(tab.form, self.mapping, rec.data, self.hint, self.limit_s)
            held, rows = await self._fill(tab.form, rec)
        except asyncio.CancelledError:
            raise
        except RunError as e:
            # the page would not load, or is not the form (an expired login): the records
            # after this one would meet the same page
            self.stop(str(e))
            reason = str(e)
        except FillStopped as e:
            reason = str(e)
        except Exception as e:  # noqa: BLE001 - a record's failure is recorded; the others go on
            reason = f"o preenchimento parou: {exc_text(e)}"
        else:
            tab.ready_at = time.monotonic()
            tab.receipt = rows
            await self._watch(tab)
            for line in receipt.held_lines(held):
                self.write(line)
            c = _receipt_counts(rows)
            self.status.record(rec, "preenchido", preenchimento_s=round(tab.ready_at - started, 2),
                               retidos=len(held), **c)
            self.write(f"Registo {rec.position} (chave {rec.key}): preenchido em "
                       f"{tab.ready_at - started:.1f} s, {c['campos_certos']} de "
                       f"{c['campos_esperados']} campos conferem.")
            return tab
        if tab is not None and (tab.page.is_closed() or self.stopped.is_set()):
            # cut short by a closed tab or browser, or by a page that is not the form: not the
            # record's fault
            self._end(tab, "parado", motivo=self.stop_reason or "separador fechado antes da submissão")
            return None
        self.failed += 1
        self.status.record(rec, "falhou", motivo=reason, preenchimento_s=round(time.monotonic() - started, 2))
        self.write(f"Registo {rec.position} (chave {rec.key}): falhou: {reason}")
        if tab is None:
            release()
        else:
            await self._close(tab)
        return None

    async def _fill(self, page, rec):
        """The whole-form fill as the other commands run it (under the never-submit guard and
        the pacing in force), then the receipt, in `page` (the tab's page, or the frame of the
        dialog page holding the form); FillStopped when the fill stopped. With --evidencias a
        fill that did not go as the data says leaves its evidence."""
        from ziveviver.vexoconferencia import fCtConferirForm

        # each fill gets its own copy: the fill writes "ColNome" into the configurations
        mapping = json.loads(json.dumps(self.mapping))
        kept = Evidence(self.evidence, rec.key) if self.evidence else None
        if kept:
            kept.start(page)
        # several tabs fill at once: each record's outcome is reported, not its fields
        filled = await guarded_fill(page, mapping, rec.data, pacing=ritmo.atual(),
                                    debug=self.debug or bool(kept), view=LinesView(lambda _line: None))
        rows = None if filled.outcome.error else await fCtConferirForm(page, self.mapping, rec.data)
        if kept:
            await kept.keep(page, filled.outcome, rows)
        if filled.outcome.error:
            raise FillStopped(filled.outcome.error)
        return filled.held, rows

    # -------------------------------------------------------------- the operator

    async def _watch(self, tab):
        """Follows the operator's submit in the tab: every request passes here, so that the
        submission is on disk (a_submeter) before its request goes on to the application."""
        page = tab.page

        async def on_route(route):
            request = route.request
            submit = tab.armed and not tab.ended.done() and sub.is_submit(request, tab.form)
            if submit:
                self._sending(tab, request)
            if submit and not request.is_navigation_request():
                # read apart: the request only goes on once this handler has returned
                self._spawn(self._ajax_answer(tab, request))
            try:
                await route.fallback()
            except Exception:  # noqa: BLE001 - the tab is closing
                pass

        def on_loaded(_page):
            if tab.posted and not tab.ended.done():
                self._spawn(self._page_answer(tab))

        def on_close(_page):
            if not tab.ended.done():
                if tab.posted:
                    self._end(tab, "por_confirmar", motivo=f"{st.UNCONFIRMED_TEXT}: separador "
                              "fechado antes da resposta da aplicação")
                else:
                    self._end(tab, "parado", motivo="separador fechado antes da submissão")

        def on_detached(frame):
            if frame == tab.form and not page.is_closed() and not tab.ended.done():
                self._spawn(self._dialog_closed(tab))

        def on_frame_navigated(frame):
            # a new page in the dialog page's frame: a full-page submit's answer
            if frame == tab.form and tab.posted and not tab.ended.done():
                self._spawn(self._page_answer(tab, frame))

        page.on("domcontentloaded", on_loaded)
        page.on("close", on_close)
        if tab.form is not page:
            page.on("framedetached", on_detached)
            page.on("framenavigated", on_frame_navigated)
        await page.route("**/*", on_route)
        tab.armed = True

    def _sending(self, tab, request):
        tab.submit, tab.expect_page = request, request.is_navigation_request()
        tab.answered.clear()
        if not tab.posted:
            tab.posted = True
            self.status.record(tab.rec, "a_submeter")
            self.write(f"Registo {tab.rec.position} (chave {tab.rec.key}): a submeter...")

    async def _ajax_answer(self, tab, request):
        """APEX's ajax page submit: errors in its JSON answer refuse it (the page stays); an
        answer that accepts it leads to the next page, which settles it."""
        errors = None  # no answer: the submission stays unconfirmed
        try:
            response = await request.response()
            if response is not None:
                errors = []  # an answer whose body went with the page it led to: that page tells
                errors = sub.ajax_errors(await response.text())
        except Exception:  # noqa: BLE001 - see above
            pass
        finally:
            if tab.submit is request:
                tab.answered.set()
        if tab.posted and not tab.ended.done() and tab.submit is request:
            if errors:
                await self._rejected(tab, errors)
            elif errors == []:
                tab.expect_page = True  # accepted: the page it redirects to settles it

    async def _page_answer(self, tab, frame=None):
        """A new page in a tab whose submit is on its way: the application's answer, unless the
        submit never got one (the tab went back to the form, or elsewhere, before it came).
        In the frame of a dialog page (`frame`) only its errors are read: the answer that
        accepts the submit closes the dialog, which settles it."""
        submit, where = tab.submit, frame or tab.page
        if not submit.is_navigation_request():
            await tab.answered.wait()
        if tab.submit is not submit or not tab.expect_page:
            return
        if submit.failure is not None:
            tab.expect_page = False
            self.write(f"Registo {tab.rec.position} (chave {tab.rec.key}): a submissão foi "
                       f"interrompida antes da resposta ({st.UNCONFIRMED_TEXT}).")
            return
        try:
            if frame is not None:
                await frame.wait_for_load_state("domcontentloaded")
                mark = await frame.evaluate(sub.FIND, sub.find_arg())
                if mark and mark["here"]:
                    return  # still the form's own document (a move within it), not the answer
            if where.url.startswith("chrome-error:"):
                self.write(f"Registo {tab.rec.position} (chave {tab.rec.key}): a submissão não teve "
                           f"resposta da aplicação ({st.UNCONFIRMED_TEXT}).")
                return
            errors = await where.evaluate(sub.ERRORS)
        except Exception:  # noqa: BLE001 - the page moved on (its next page is read) or closed
            return
        if tab.ended.done() or not tab.posted:
            return
        if errors:
            await self._rejected(tab, errors)
            return
        if frame is None:
            self._submitted(tab)

    async def _dialog_closed(self, tab):
        """The dialog page holding the form has closed: after its own submit was accepted (APEX
        closes it then) the record is submetido; closed without a submit (Escape, its close
        button), it is not submitted, as a tab closed before its submit."""
        submit, answered = tab.submit, False
        try:
            if tab.posted and submit.is_navigation_request():  # a POST that navigated the frame
                answered = await asyncio.wait_for(submit.response(), CLOSE_WAIT_S) is not None
            elif tab.posted:  # by ajax: accepted when its answer said so
                await asyncio.wait_for(tab.answered.wait(), CLOSE_WAIT_S)
                answered = tab.expect_page
        except Exception:  # noqa: BLE001 - no answer came: the submission stays unconfirmed
            pass
        if tab.ended.done() or tab.page.is_closed():
            return
        if not tab.posted:
            self._end(tab, "parado", motivo="diálogo fechado antes da submissão")
            self.write(f"Registo {tab.rec.position} (chave {tab.rec.key}): o diálogo foi fechado "
                       "sem submeter; fica por submeter.")
        elif answered:
            self._submitted(tab)
        else:
            self._end(tab, "por_confirmar", motivo=f"{st.UNCONFIRMED_TEXT}: diálogo fechado antes "
                      "da resposta da aplicação")
            self.write(f"Registo {tab.rec.position} (chave {tab.rec.key}): o diálogo fechou antes da "
                       f"resposta da aplicação ({st.UNCONFIRMED_TEXT}).")

    def _submitted(self, tab):
        now = time.monotonic()
        self._end(tab, "submetido", a_espera_do_operador_s=round(now - tab.ready_at, 2),
                  operador_esperou_s=None if tab.waited is None else round(tab.waited, 2))
        self.write(f"Registo {tab.rec.position} (chave {tab.rec.key}): submetido.")

    async def _rejected(self, tab, errors):
        """The application refused the submit: the record is rejeitado and its tab stays in
        front of the operator, with the banner saying why."""
        tab.posted = False
        reason = sub.rejection(errors)
        self.status.record(tab.rec, "rejeitado", motivo=reason)
        text = (f"Registo {tab.rec.position} (chave {tab.rec.key}): a aplicação recusou a "
                f"submissão: {reason}")
        self.write(f"{text} Corrija e submeta de novo.")
        try:
            await tab.form.evaluate(sub.MARK, sub.mark_arg(self.run_id, tab.rec.key))
            await tab.page.evaluate(BANNER, {"id": BANNER_ID, "ok": False,
                                             "text": f"{text}. Corrija o formulário e submeta de novo."})
        except Exception:  # noqa: BLE001 - the tab went away; its close says what happened
            pass

    async def _close_old_tabs(self):
        """The tabs a run over this status file left open (it died): closed before anything is
        filled. One that has left the form lote loaded was submitted, or navigated, while no
        run watched it: its record's submission is unconfirmed and it is not filled again. So
        is a record of `left_open` whose tab is not found here still on its form (closed, in
        another browser, or not answering): the operator may have submitted it unwatched."""
        todo = {rec.key: rec for rec in self.records}
        on_form = set()
        for page in list(self.context.pages):
            try:
                mark = await asyncio.wait_for(sub.find_mark(page), CLOSE_WAIT_S)
            except Exception:  # noqa: BLE001 - a tab that cannot say (closing, a browser page, a dialog open)
                continue
            if not mark or mark.get("run") != self.run_id:
                continue
            rec = todo.get(mark.get("chave"))
            if rec is not None and not mark.get("here"):
                self._left_unconfirmed(rec, "o separador de uma execução anterior saiu do formulário "
                                       "sem ninguém o seguir", "o seu separador, deixado por uma "
                                       "execução anterior, saiu do formulário (foi submetido?)")
            elif rec is not None:
                on_form.add(rec.key)
            self.write(f"Separador deixado por uma execução anterior (chave {mark.get('chave')}): fechado.")
            try:
                await asyncio.wait_for(page.close(), CLOSE_WAIT_S)
            except Exception:  # noqa: BLE001 - already going
                pass
        for key in self.left_open - on_form:
            if key in todo:
                self._left_unconfirmed(todo[key], "uma execução anterior terminou sem fechar o "
                                       "formulário, e o seu separador não foi encontrado no navegador",
                                       "uma execução anterior terminou sem fechar o seu formulário, "
                                       "e o separador não foi encontrado neste navegador, ou não "
                                       "respondeu (foi submetido?)")

    def _left_unconfirmed(self, rec, motivo, why):
        """A record an earlier run left whose submission nobody saw: por_confirmar, not filled."""
        if rec not in self.records:
            return  # said already (two of its tabs were left)
        self.status.record(rec, "por_confirmar", motivo=f"{st.UNCONFIRMED_TEXT}: {motivo}")
        self.records = [r for r in self.records if r is not rec]
        self.write(f"Registo {rec.position} (chave {rec.key}): {st.UNCONFIRMED_TEXT}: {why}. Confirme-o "
                   f"na aplicação; se não ficou registado, corra de novo com --refazer {rec.key}.")

    async def _present(self, tab):
        """Brings a ready tab to the front and waits until its record is settled."""
        self.current = tab
        rec = tab.rec
        if not tab.ended.done():
            c = _receipt_counts(tab.receipt)
            text = (f"Registo {rec.position} (chave {rec.key}): {c['campos_certos']} de "
                    f"{c['campos_esperados']} campos conferem.")
            if c["diferentes"]:
                text += f" Por conferir: {', '.join(c['diferentes'])}."
            try:
                await tab.page.bring_to_front()
                await tab.page.evaluate(BANNER, {"id": BANNER_ID, "ok": not c["diferentes"],
                                                 "text": text + " Reveja e submeta o formulário."})
            except Exception:  # noqa: BLE001 - the tab went away; its close says what happened
                pass
            tab.waited = time.monotonic() - self.free_since
            self.write(f"{text} Pronto para rever e submeter (separador à frente).")
            for row in tab.receipt:
                if row["estado"] in receipt.FAILED_STATES:
                    self.write(f"    {receipt.MARKS[row['estado']]}: {_where(row)} esperado "
                               f"{row['esperado']!r}, na página {row['obtido']!r}")
        await self._attend(tab.ended)
        self.current = None
        self.free_since = time.monotonic()

    def _end(self, tab, state, **fields):
        """Records the record's end and closes its tab (which frees its slot)."""
        if tab.ended.done():
            return
        self.status.record(tab.rec, state, **fields)
        tab.ended.set_result(state)
        self._spawn(self._close(tab))

    async def _close(self, tab):
        """Closes a record's tab; its slot is free at once. A close that does not finish (seen
        now and then on a tab whose submit has just navigated it) is left to the browser."""
        self.open.pop(tab.rec.key, None)
        tab.release()
        try:
            if not tab.page.is_closed():
                await asyncio.wait_for(tab.page.close(), CLOSE_WAIT_S)
        except asyncio.TimeoutError:
            self.write(f"Registo {tab.rec.position} (chave {tab.rec.key}): o separador não fechou "
                       f"em {CLOSE_WAIT_S} s; feche-o à mão.")
        except Exception:  # noqa: BLE001 - a tab that is already going
            pass

    async def _close_open(self, reason):
        for tab in list(self.open.values()):
            if tab.posted:  # its answer never came: whether the application took it is unknown
                self._end(tab, "por_confirmar", motivo=f"{st.UNCONFIRMED_TEXT}: {reason}")
            else:
                self._end(tab, "parado", motivo=reason)
        await asyncio.gather(*self._closing, return_exceptions=True)

    # -------------------------------------------------------------- Ctrl+C

    def _catch_interrupts(self):
        """Ctrl+C asks what to do (a second one while asking stops); SIGTERM (sent by `timeout`,
        a CI's cancel, a service manager) stops the run as the operator's stop does. Returns the
        undo."""
        loop = asyncio.get_running_loop()

        def on_interrupt(*_):
            if self.asking:
                loop.call_soon_threadsafe(self.stop, STOP_BY_OPERATOR)
            else:
                loop.call_soon_threadsafe(self.interrupt.set)

        def on_terminate(*_):
            loop.call_soon_threadsafe(self.stop, STOP_BY_SIGNAL)
        undo = []
        for sig, handler in ((signal.SIGINT, on_interrupt), (getattr(signal, "SIGTERM", None), on_terminate)):
            if sig is None:
                continue
            try:
                loop.add_signal_handler(sig, handler)
                undo.append(lambda sig=sig: loop.remove_signal_handler(sig))
            except (NotImplementedError, RuntimeError):  # Windows' loops, or not the main thread
                try:
                    previous = signal.signal(sig, handler)
                except ValueError:
                    continue
                undo.append(lambda sig=sig, previous=previous: signal.signal(sig, previous))
        return lambda: [u() for u in undo]

    async def _ask(self):
        tab = self.current if self.current and not self.current.ended.done() else None
        skip = f"[i] ignorar o registo {tab.rec.position} (chave {tab.rec.key}), " if tab else ""
        self.write(f"\nInterrompido. {skip}[p] parar, [Enter] continuar? ")
        self.asking = True
        try:
            answer = await self._attend_line()
        finally:
            self.asking = False
        if answer is None:
            return
        answer = answer.strip().lower()
        if answer in ("p", "parar") or answer == "\0":
            self.stop(STOP_BY_OPERATOR)
        elif tab is not None and answer in ("i", "ignorar") and not tab.ended.done():
            self._end(tab, "ignorado", motivo="ignorado pelo operador")
            self.write(f"Registo {tab.rec.position} (chave {tab.rec.key}): ignorado.")
        else:
            self.write("A continuar.")

    async def _attend_line(self):
        """A line from the terminal ("\\0" when the input is closed), or None if the run stops."""
        loop = asyncio.get_running_loop()
        line = loop.create_future()

        def read():
            try:
                text = sys.stdin.readline()
            except (OSError, ValueError, AttributeError):
                text = ""
            if not loop.is_closed():
                loop.call_soon_threadsafe(lambda: line.done() or line.set_result(text or "\0"))
        threading.Thread(target=read, daemon=True).start()
        stopped = asyncio.ensure_future(self.stopped.wait())
        done, _ = await asyncio.wait({line, stopped}, return_when=asyncio.FIRST_COMPLETED)
        stopped.cancel()
        return line.result() if line in done else None


def _where(row):
    line = f" {row['linha']}" if row.get("linha") is not None else ""
    return f"{row['secao']}{line}.{row['coluna']}"


def _receipt_counts(rows):
    """Fields landed and expected (blank data and cells the page cannot show are left out)."""
    checked = [r for r in rows if r["estado"] not in ("vazio", "nao_conferido")]
    return {"campos_certos": sum(1 for r in checked if r["estado"] == "igual"),
            "campos_esperados": len(checked),
            "diferentes": [_where(r) for r in checked if r["estado"] != "igual"]}
