// Module state of vexocontrole, read from the module at each use: the debug flag, the
// module logger, the module's functions; plus the interned names and constant objects
// the fills pass to the page.
#pragma once
#include "pyasync/coro.hpp"
#include "pyasync/py.hpp"
#include "page_scripts.hpp"

namespace zv::vc {

// Interned names and shared constants, made once when the module is executed.
struct Names {
  // module globals
  Ref gDebugDev, objfLog, asyncio, sys, ctypes, VexoFuncoes;
  Ref fCtRetry, fCtPreencText, fCtApexWaitStable, fCtApexIdentTipoCampoPreenc;
  // logger methods
  Ref info, warning, error, debug;
  // page and locator operations
  Ref locator, wait_for_selector, wait_for_function, wait_for_timeout, evaluate, click,
      select_option, keyboard, press, count, first, wait_for, is_enabled,
      scroll_into_view_if_needed, check, sleep, page, strip, lower, get, fLog, exit, items;
  // keyword-name tuples
  Ref kw_state_timeout, kw_timeout, kw_pTimeout, kw_value_timeout, kw_exc_info, kw_flog;
  // constant values
  Ref attached, visible, hidden, escape, zero, one;
};
extern Names* N;

// The module's dict (strong reference held for the life of the process).
extern PyObject* g_globals;

// globals()[name], raising NameError as Python does when it is missing.
Ref module_get(PyObject* name);
void module_set(PyObject* name, PyObject* value);

// The debug flag, read afresh.
bool debug_on();

// objfLog.<level>(msg), the logger read afresh. log_error_exc adds exc_info=True.
void log_info(const Ref& msg);
void log_warning(const Ref& msg);
void log_error(const Ref& msg);
void log_debug(const Ref& msg);
void log_error_exc(const Ref& msg);

// raise <type>(msg)
[[noreturn]] void raise_new(PyObject* type, const Ref& msg,
                            std::source_location where = std::source_location::current());

inline Ref none() { return Ref::borrow(Py_None); }
inline Ref integer(long long v) { return check(PyLong_FromLongLong(v)); }

// None, or a value whose text form is empty once trimmed.
bool is_blank(PyObject* v);
// str(v).strip()
Ref trimmed_text(PyObject* v);
// text with every occurrence of `what` removed
Ref remove_all(PyObject* s, const char* what);
// Python's `a == b`
bool py_equal(PyObject* a, PyObject* b);

// A fresh inner attempt: a parameterless coroutine function (named `action`) whose body
// receives `captures` as its closure. The prototype for each spec is made on first use.
Ref make_attempt_of(const FuncSpec* spec, PyObject* const* captures, std::size_t n);
template <class... A>
Ref make_attempt(const FuncSpec* spec, A... captures) {
  PyObject* v[] = {captures...};
  return make_attempt_of(spec, v, sizeof...(A));
}

// Awaits the module's current fCtRetry on an attempt, with its defaults.
Task<Ref> retry(const Ref& action);

// A str or int made once and kept for the life of the process (never released: it may
// outlive the interpreter's own teardown otherwise).
PyObject* intern_text(const char* s);
PyObject* intern_script(std::string_view js);
PyObject* intern_int(long long v);
#define ZV_STR(lit) ([]() -> PyObject* { static PyObject* zv_s = ::zv::vc::intern_text(lit); return zv_s; }())
#define ZV_INT(n) ([]() -> PyObject* { static PyObject* zv_i = ::zv::vc::intern_int(n); return zv_i; }())
// A page script embedded from scripts/<name>.js.
#define ZV_SCRIPT(name) ([]() -> PyObject* { static PyObject* zv_j = ::zv::vc::intern_script(::zv::scripts::name); return zv_j; }())

bool init_state(PyObject* module_dict);

}  // namespace zv::vc
