#include "state.hpp"

#include <map>

namespace zv::vc {

Names* N = nullptr;
PyObject* g_globals = nullptr;

Ref module_get(PyObject* name) {
  PyObject* v = PyDict_GetItemWithError(g_globals, name);
  if (!v) {
    if (!PyErr_Occurred()) PyErr_Format(PyExc_NameError, "name '%U' is not defined", name);
    throw_current();
  }
  return Ref::borrow(v);
}

void module_set(PyObject* name, PyObject* value) {
  check(PyDict_SetItem(g_globals, name, value));
}

bool debug_on() { return truthy(module_get(N->gDebugDev.get()).get()); }

static void log_at(const Ref& level, const Ref& msg) {
  Ref logger = module_get(N->objfLog.get());
  call_method(logger.get(), level.get(), msg.get());
}
void log_info(const Ref& msg) { log_at(N->info, msg); }
void log_warning(const Ref& msg) { log_at(N->warning, msg); }
void log_error(const Ref& msg) { log_at(N->error, msg); }
void log_debug(const Ref& msg) { log_at(N->debug, msg); }
void log_error_exc(const Ref& msg) {
  Ref logger = module_get(N->objfLog.get());
  call_method_kw(logger.get(), N->error.get(), 1, N->kw_exc_info.get(), msg.get(), Py_True);
}

void raise_new(PyObject* type, const Ref& msg, std::source_location where) {
  PyErr_SetObject(type, msg.get());
  throw_current(where);
}

Ref trimmed_text(PyObject* v) {
  Ref s = str(v);
  return call_method(s.get(), N->strip.get());
}

bool is_blank(PyObject* v) {
  if (v == Py_None) return true;
  Ref t = trimmed_text(v);
  // A str subclass may answer anything from strip(): compare it as `== ""` would.
  if (!PyUnicode_Check(t.get())) return py_equal(t.get(), ZV_STR(""));
  return PyUnicode_GET_LENGTH(t.get()) == 0;
}

Ref remove_all(PyObject* s, const char* what) {
  Ref w = text(what);
  Ref empty = text("");
  return check(PyUnicode_Replace(s, w.get(), empty.get(), -1));
}

bool py_equal(PyObject* a, PyObject* b) { return check(PyObject_RichCompareBool(a, b, Py_EQ)) != 0; }

PyObject* intern_text(const char* s) { return text(s).release(); }
PyObject* intern_script(std::string_view js) { return text(js).release(); }
PyObject* intern_int(long long v) { return integer(v).release(); }

Ref make_attempt_of(const FuncSpec* spec, PyObject* const* captures, std::size_t n) {
  // immortal, one per attempt kind (the map too: it is never destroyed)
  static auto& protos = *new std::map<const FuncSpec*, PyObject*>;
  PyObject*& proto = protos[spec];
  if (!proto) {
    Ref modname = module_get(Ref(name("__name__")).get());
    proto = make_function(spec, modname.get(), nullptr);
    if (!proto) throw_current();
  }
  Ref closure = check(PyTuple_New(static_cast<Py_ssize_t>(n)));
  for (std::size_t i = 0; i < n; ++i) PyTuple_SET_ITEM(closure.get(), i, Py_NewRef(captures[i]));
  return check(with_closure(proto, closure.get()));
}

Task<Ref> retry(const Ref& action) {
  Ref fn = module_get(N->fCtRetry.get());
  Ref coro = call(fn.get(), action.get());
  co_return co_await std::move(coro);
}

static Ref tuple_of(std::initializer_list<const char*> names) {  // not in a coroutine
  Ref t = check(PyTuple_New(static_cast<Py_ssize_t>(names.size())));
  Py_ssize_t i = 0;
  for (const char* n : names) PyTuple_SET_ITEM(t.get(), i++, name(n).release());
  return t;
}

bool init_state(PyObject* module_dict) {
  try {
    if (!N) {
      N = new Names();
#define ZV_NAME(x) N->x = name(#x)
      ZV_NAME(gDebugDev); ZV_NAME(objfLog); ZV_NAME(asyncio); ZV_NAME(sys); ZV_NAME(ctypes);
      ZV_NAME(VexoFuncoes); ZV_NAME(fCtRetry); ZV_NAME(fCtPreencText); ZV_NAME(fCtApexWaitStable);
      ZV_NAME(fCtApexIdentTipoCampoPreenc);
      ZV_NAME(info); ZV_NAME(warning); ZV_NAME(error); ZV_NAME(debug);
      ZV_NAME(locator); ZV_NAME(wait_for_selector); ZV_NAME(wait_for_function);
      ZV_NAME(wait_for_timeout); ZV_NAME(evaluate); ZV_NAME(click); ZV_NAME(select_option);
      ZV_NAME(keyboard); ZV_NAME(press); ZV_NAME(count); ZV_NAME(first); ZV_NAME(wait_for);
      ZV_NAME(is_enabled); ZV_NAME(scroll_into_view_if_needed); ZV_NAME(check); ZV_NAME(sleep);
      ZV_NAME(page); ZV_NAME(strip); ZV_NAME(lower); ZV_NAME(get); ZV_NAME(fLog); ZV_NAME(exit);
      ZV_NAME(items); ZV_NAME(json_value); ZV_NAME(dispose); ZV_NAME(pop);
#undef ZV_NAME
      N->kw_state_timeout = tuple_of({"state", "timeout"});
      N->kw_timeout = tuple_of({"timeout"});
      N->kw_pTimeout = tuple_of({"pTimeout"});
      N->kw_value_timeout = tuple_of({"value", "timeout"});
      N->kw_exc_info = tuple_of({"exc_info"});
      N->kw_arg_polling_timeout = tuple_of({"arg", "polling", "timeout"});
      N->kw_flog = tuple_of({"pSiLog", "pSiLogTipo", "pSiLogPrefixo", "pArqLogNome",
                             "pArqLogMaxBytes", "pArqLogQtd", "pDebugDev"});
      N->attached = text("attached");
      N->visible = text("visible");
      N->hidden = text("hidden");
      N->escape = text("Escape");
      N->zero = integer(0);
      N->one = integer(1);
    }
    Py_XDECREF(g_globals);
    g_globals = Py_NewRef(module_dict);
    return true;
  } catch (...) {
    set_error_from(std::current_exception());
    return false;
  }
}

}  // namespace zv::vc
