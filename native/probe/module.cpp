// ziveviver._probe: a few coroutine functions on the bare bridge, for the bridge's own tests
// and benchmarks. Nothing here knows APEX, and the package's public modules do not use it.
#include "pyasync/coro.hpp"
#include "pyasync/py.hpp"

#include <iterator>

namespace zv::probe {
namespace {

// await fn() three times; the last result.
Task<Ref> await3(Call c) {
  PyObject* fn = c.arg(0);
  Ref r = co_await call(fn);
  r = co_await call(fn);
  r = co_await call(fn);
  co_return r;
}

// await each awaitable of an iterable in turn; the list of results.
Task<Ref> await_each(Call c) {
  Ref results = check(PyList_New(0));
  Ref it = check(PyObject_GetIter(c.arg(0)));
  while (PyObject* next = PyIter_Next(it.get())) {
    Ref r = co_await Ref::steal(next);
    check(PyList_Append(results.get(), r.get()));
  }
  if (PyErr_Occurred()) throw_current();
  co_return results;
}

Task<Ref> child(PyObject* fn) { co_return co_await call(fn); }

// await a C++ child task `n` times (each child awaits fn()); n when done.
Task<Ref> nested_loop(Call c) {
  long long n = PyLong_AsLongLong(c.arg(1));
  if (n == -1 && PyErr_Occurred()) throw_current();
  for (long long i = 0; i < n; ++i) co_await child(c.arg(0));
  co_return Ref::steal(PyLong_FromLongLong(n));
}

// Calls fail(); an ordinary error is kept (where the collector sees it) while then() is
// awaited, and raised again afterwards. Cancellation passes through untouched.
Task<Ref> keep_error_across_await(Call c) {
  Held saved;
  try {
    co_await call(c.arg(0));
  } catch (PyError& e) {
    saved.set(e.take());
  }
  co_await call(c.arg(1));
  if (saved) saved.rethrow();
  co_return Ref::borrow(Py_None);
}

// Calls fn() inside an ordinary guard: ordinary errors give their str, others pass.
Task<Ref> guarded(Call c) {
  try {
    co_return co_await call(c.arg(0));
  } catch (PyError& e) {
    co_return str(e.get());
  }
}

// The handled exception as format_exc() sees it while a C++ handler runs.
Task<Ref> format_in_handler(Call c) {
  Ref text;
  try {
    co_await call(c.arg(0));
  } catch (PyError& e) {
    Handling h(e.get());
    Ref tb = check(PyImport_ImportModule("traceback"));
    text = call_method(tb.get(), Ref(name("format_exc")).get());
  }
  co_return text ? text : Ref::borrow(Py_None);
}

// fn(fn, n - 1) awaited n times over, the last one raising ValueError: an error passing
// through n + 1 C++ coroutine frames.
Task<Ref> raise_through(Call c) {
  long long n = PyLong_AsLongLong(c.arg(1));
  if (n == -1 && PyErr_Occurred()) throw_current();
  if (n <= 0) {
    PyErr_SetString(PyExc_ValueError, "raised at the bottom");
    throw_current();  // the raise
  }
  Ref below = check(PyLong_FromLongLong(n - 1));
  co_return co_await call(c.arg(0), c.arg(0), below.get());
}

const FuncSpec kFunctions[] = {
    {"await3", nullptr, "fn", nullptr, await3, nullptr, nullptr},
    {"await_each", nullptr, "awaitables", nullptr, await_each, nullptr, nullptr},
    {"nested_loop", nullptr, "fn, n", nullptr, nested_loop, nullptr, nullptr},
    {"keep_error_across_await", nullptr, "fail, then", nullptr, keep_error_across_await, nullptr, nullptr},
    {"guarded", nullptr, "fn", nullptr, guarded, nullptr, nullptr},
    {"format_in_handler", nullptr, "fn", nullptr, format_in_handler, nullptr, nullptr},
    {"raise_through", nullptr, "fn, n", nullptr, raise_through, nullptr, nullptr},
};

int exec_module(PyObject* m) {
  if (!init_types()) return -1;
  PyObject* modname = PyModule_GetNameObject(m);
  if (!modname) return -1;
  bool ok = add_functions(PyModule_GetDict(m), kFunctions, std::size(kFunctions), modname, nullptr);
  Py_DECREF(modname);
  return ok ? 0 : -1;
}

PyModuleDef_Slot kSlots[] = {{Py_mod_exec, reinterpret_cast<void*>(exec_module)}, {0, nullptr}};
PyModuleDef kModule = {PyModuleDef_HEAD_INIT, "_probe", "Bridge probes for tests and benchmarks.",
                       0, nullptr, kSlots, nullptr, nullptr, nullptr};

}  // namespace
}  // namespace zv::probe

PyMODINIT_FUNC PyInit__probe() { return PyModuleDef_Init(&zv::probe::kModule); }
