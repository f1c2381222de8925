#include "pacing.hpp"

#include "events.hpp"
#include "page.hpp"

namespace zv::vc {

namespace {

// Every pause point, its literal pause, and what the adaptive pacing waits for instead.
constexpr PauseEntry kPauses[] = {
    {PausePoint::LovOpen, "lov_aberto", 1800, "lov_aberto",
     "the item's dialog shown, its rows (or its no-data message) rendered, no request in flight",
     10000, 0},
    {PausePoint::LoadMore, "lov_mais", 500, nullptr,
     "the clicked page's rows rendered, or the load-more button disabled", 10000, 0},
    {PausePoint::LovClose, "lov_fechado", 5000, "lov_fechado",
     "Escape, then the dialog's own close button while it is open; the dialog hidden, the "
     "item's aria-expanded not true and the item holding the value set",
     3000, 0},
    {PausePoint::IdleWait, "espera_estavel", 300, "ocioso",
     "no request in flight and no processing indicator shown, for the quiet window", 0, 100},
    {PausePoint::LovSettle, "lov_assente", 1000, "ocioso",
     "no request in flight and no processing indicator shown (the idle wait before it held the "
     "quiet window)",
     5000, 0},
    {PausePoint::GridAdd, "grelha_inserir", 1200, "grelha_inserir",
     "the row editor's first mapped cell attached and shown; in an Interactive Grid, the new "
     "row in edit mode",
     15000, 0},
    {PausePoint::GridSave, "grelha_gravar", 1800, "grelha_gravar",
     "the save finished: no processing indicator, the add button enabled again, no request in "
     "flight; in an Interactive Grid, its save request over (interactivegridsave, or no unsaved "
     "change) and no request in flight",
     30000, 0},
};

// How often the page checks a condition, in ms: an interval, not animation frames, which a
// page in the background may not get.
constexpr long long kPollMs = 100;

// The dialog open now; a hidden dialog kept from an earlier popup does not match.
constexpr const char kOpenDialog[] = ".a-PopupLOV-dialog:visible, .ui-dialog:visible";

constexpr std::size_t kPauseCount = sizeof(kPauses) / sizeof(kPauses[0]);
static_assert(kPauseCount == static_cast<std::size_t>(PausePoint::GridSave) + 1);

// The literal pause of a point as the int the page operation takes, made once.
PyObject* literal_ms(const PauseEntry& e) {
  static PyObject* made[kPauseCount] = {};
  PyObject*& ms = made[static_cast<std::size_t>(e.point)];
  if (!ms) ms = intern_int(e.literal_ms);
  return ms;
}

// The pacing's context variable (ziveviver.ritmo._ritmo), held for the life of the process.
PyObject* g_pacing_var = nullptr;

PyObject* or_none(PyObject* o) { return o ? o : Py_None; }

// The value the popup LOV's item was set to: the row search's foundId (None when unknown).
Ref value_set(const PauseSite& s) {
  if (!s.found || !PyDict_Check(s.found)) return none();
  return call_method(s.found, N->get.get(), ZV_STR("foundId"));
}

// The condition script's argument: {ponto, marca, item, valor, seletor, grelha, quieto}.
Ref condition_argument(const PauseEntry& e, const PauseSite& s) {
  static unsigned long long marks = 0;
  Ref arg = check(PyDict_New());
  Ref ponto = text(e.check);
  Ref marca = check(PyLong_FromUnsignedLongLong(++marks));
  Ref quieto = integer(e.quiet_ms);
  check(PyDict_SetItemString(arg.get(), "ponto", ponto.get()));
  check(PyDict_SetItemString(arg.get(), "marca", marca.get()));
  check(PyDict_SetItemString(arg.get(), "item", or_none(s.item)));
  check(PyDict_SetItemString(arg.get(), "valor", value_set(s).get()));
  check(PyDict_SetItemString(arg.get(), "seletor", or_none(s.selector)));
  check(PyDict_SetItemString(arg.get(), "grelha", or_none(s.grid)));
  check(PyDict_SetItemString(arg.get(), "quieto", quieto.get()));
  if (s.lov_in_top) check(PyDict_SetItemString(arg.get(), "topo", Py_True));
  return arg;
}

// Polls the point's condition in the page every 100 ms, for at most `timeout` ms; the
// verdict the script gave ("pronto", "sem_sinal", "valor_diferente").
Task<Ref> wait_for_condition(const PauseEntry& e, PauseSite s, Ref timeout) {
  Ref arg = condition_argument(e, s);
  Ref handle = co_await pg::wait_for_function(s.page, ZV_SCRIPT(ritmo), arg.get(), integer(kPollMs).get(),
                                              timeout.get());
  Ref verdict = co_await call_method(handle.get(), N->json_value.get());
  co_await call_method(handle.get(), N->dispose.get());
  co_return verdict;
}

bool is_verdict(PyObject* v, const char* what) {
  return v && PyUnicode_Check(v) && PyUnicode_CompareWithASCIIString(v, what) == 0;
}

bool is_timeout(PyObject* exc) {
  Ref type_name = check(PyType_GetName(Py_TYPE(exc)));
  return PyUnicode_CompareWithASCIIString(type_name.get(), "TimeoutError") == 0;
}

}  // namespace

const PauseEntry& pause_entry(PausePoint p) { return kPauses[static_cast<int>(p)]; }

bool pacing_adaptive() {
  if (!g_pacing_var) return false;
  Ref value = Ref::steal(compat::context_var_get(g_pacing_var));
  if (!value) throw_current();
  return is_verdict(value.get(), "adaptativo");
}

void log_fallback(const char* owner, const char* point, const Ref& why) {
  log_info(message(owner, " -> Ritmo adaptativo: ", point, " ", why, "; segue o ritmo literal"));
}

namespace {

// The adaptive pacing's wait at one point: true when the page is ready; false when the
// literal pause must follow (no signal, the bound ran out, the wait failed), said in the
// fallback's line while debug is on. A popup closed without the item holding the value set
// raises: the attempt failed.
Task<bool> adaptive_wait(const PauseEntry& e, PauseSite site) {
  // The popup is closed at once: Escape (APEX focuses the dialog's search field), and the
  // condition clicks the dialog's own close button while it is still open. A dialog in the
  // top document gets no Escape: should it have closed already, the key would reach the
  // dialog page, and Escape there cancels the whole dialog page.
  if (e.point == PausePoint::LovClose && !site.lov_in_top) co_await pg::press(site.page, N->escape.get());

  Ref timeout = e.bound_ms ? integer(e.bound_ms) : Ref::borrow(or_none(site.limit));
  Ref verdict;
  Held failure;
  try {
    verdict = co_await wait_for_condition(e, site, timeout);
  } catch (PyError& err) {
    failure.set(err.take());
  }
  if (is_verdict(verdict.get(), "pronto")) co_return true;
  if (is_verdict(verdict.get(), "valor_diferente"))
    raise_new(PyExc_Exception, message(site.owner, " -> Ritmo adaptativo: o item ", or_none(site.item),
                                       " não ficou com o valor ", repr_of(value_set(site).get())));
  if (debug_on()) {
    Ref why;
    if (!failure)
      why = text("sem sinal da página");
    else if (is_timeout(failure.get()))
      why = message("sem resposta em ", timeout, " ms");
    else
      why = message("falhou: ", failure.get());
    log_fallback(site.owner, e.name, why);
  }
  co_return false;
}

}  // namespace

Task<Ref> pause_at(PausePoint point, PauseSite site) {
  const PauseEntry& e = pause_entry(point);
  // An observer (ziveviver.eventos) is told of each pause: planned against spent, and the pacing.
  const double started = ev::pause_started();
  const bool adaptive = pacing_adaptive();
  const bool ready = adaptive && co_await adaptive_wait(e, site);

  // The literal pause: the literal pacing's, and the adaptive pacing's fallback.
  if (!ready) switch (point) {
    case PausePoint::LovClose: {
      // A dialog in the top document: closed with its own close button (no Escape, see
      // adaptive_wait); the wait below would look for it in the item's document.
      if (site.lov_in_top) {
        co_await pg::evaluate(site.page, ZV_SCRIPT(lov_close), pg::list(site.item, Py_True).get());
        break;
      }
      // Wait for the popup to close; APEX leaves it open after setValue, so then close it
      // with Escape, and with its own close button should Escape not reach it (focus
      // outside the dialog).
      bool closed = true;
      try {
        co_await pg::wait_for_selector(site.page, ZV_STR(kOpenDialog), N->hidden.get(), literal_ms(e));
      } catch (PyError&) {
        closed = false;
      }
      if (!closed) {
        co_await pg::press(site.page, N->escape.get());
        co_await pg::evaluate(site.page, ZV_SCRIPT(lov_close));
      }
      break;
    }
    case PausePoint::IdleWait:
      // The adaptive wait stood for the wait for no processing indicator, within the same
      // limit: after it, the pause is what is left.
      if (!adaptive) {
        try {
          co_await pg::wait_for_function(site.page, ZV_SCRIPT(apex_idle), site.limit);
        } catch (PyError&) {
          // time-out, script error, closed page: dropped without a line. Cancellation is a
          // PyAbort and leaves at once.
        }
      }
      co_await pg::wait_for_timeout(site.page, literal_ms(e));
      break;
    case PausePoint::LovOpen:
    case PausePoint::LovSettle:
    case PausePoint::GridAdd:
    case PausePoint::GridSave:
      co_await pg::wait_for_timeout(site.page, literal_ms(e));
      break;
    case PausePoint::LoadMore:
      break;  // made inside the row search script
  }
  ev::pause_ended(started, e.name, e.literal_ms, adaptive ? "adaptativo" : "literal");
  co_return none();
}

Ref load_more_pacing() {
  if (!pacing_adaptive()) return Ref();
  static PyObject* made = [] {
    const PauseEntry& e = pause_entry(PausePoint::LoadMore);
    Ref d = check(PyDict_New());
    check(PyDict_SetItemString(d.get(), "limiteMs", integer(e.bound_ms).get()));
    check(PyDict_SetItemString(d.get(), "intervaloMs", integer(kPollMs).get()));
    return d.release();
  }();
  return Ref::borrow(made);
}

void note_load_more_fallbacks(PyObject* result, const char* owner) {
  if (!PyDict_Check(result)) return;
  Ref ran_out = call_method(result, N->pop.get(), ZV_STR("esgotadas"), Py_None);
  if (ran_out.get() == Py_None || !debug_on()) return;
  const PauseEntry& e = pause_entry(PausePoint::LoadMore);
  log_fallback(owner, e.name, message("sem resposta em ", integer(e.bound_ms), " ms (", ran_out, "x)"));
}

void init_pacing(PyObject* module_dict) {
  Ref fromlist = check(Py_BuildValue("(s)", "_ritmo"));
  Ref ritmo = check(PyImport_ImportModuleLevel("ritmo", module_dict, nullptr, fromlist.get(), 1));
  g_pacing_var = check(PyObject_GetAttrString(ritmo.get(), "_ritmo")).release();
}

}  // namespace zv::vc
