// The Python side of the bridge: the coroutine object that drives a C++ Task chain for
// asyncio, and the table-driven function object that binds arguments CPython's way and
// returns such coroutines.
#pragma once
#include "pyasync/task.hpp"

namespace zv {

// What a function body receives: the bound arguments (borrowed; the coroutine object
// or the caller's frame owns them) and the function object's closure, if any.
struct Call {
  PyObject* const* args;
  Py_ssize_t nargs;
  PyObject* closure;
  PyObject* arg(Py_ssize_t i) const noexcept {
    assert(i >= 0 && i < nargs);
    return args[i];
  }
  // Item i of a tuple closure.
  PyObject* cap(Py_ssize_t i) const noexcept {
    assert(closure && i >= 0 && i < PyTuple_GET_SIZE(closure));
    return PyTuple_GET_ITEM(closure, i);
  }
};

using CoroBody = Task<Ref> (*)(Call);
using SyncBody = Ref (*)(Call);

// One entry of a function table. `params` is the Python parameter list as source text
// ("pPage, pWebSel, pDbCampoValue, pTimeout=5000"); defaults are evaluated once, when the
// function object is made. Exactly one of `coro` and `sync` is set.
struct FuncSpec {
  const char* name;
  const char* qualname;  // nullptr: the name
  const char* params;
  const char* doc;       // nullptr: no docstring
  CoroBody coro;
  SyncBody sync;
  const char* returns;   // return annotation source, or nullptr
};

enum class CoroState : unsigned char { created, suspended, running, done };

struct FuncObject;

struct CoroObject {
  PyObject_VAR_HEAD
  FuncObject* func;
  PyObject* await_iter;   // the iterator being delegated to while suspended
  PyObject* yielded;      // set by a suspending awaiter, handed out by the driver
  PyObject* weakrefs;
  PyAwait* pending;       // the awaiter suspended on await_iter
  std::coroutine_handle<TaskPromise<Ref>> root;
  std::coroutine_handle<> leaf;
  Held* held;             // exceptions saved in frames, for the garbage collector
  CoroState state;
  PyObject* args[1];      // bound arguments (ob_size of them), owned
};

struct FuncObject {
  PyObject_HEAD
  vectorcallfunc vectorcall;
  const FuncSpec* spec;
  PyObject* name;
  PyObject* qualname;
  PyObject* module;
  PyObject* doc;
  PyObject* code;
  PyObject* defaults;
  PyObject* annotations;
  PyObject* stub;
  PyObject* stub_names;  // parameter names, in order
  PyObject* closure;
  PyObject* signature;
  PyObject* dict;
  PyObject* weakrefs;
  Py_ssize_t nparams;
  Py_ssize_t nrequired;
};

// Gives `exc` the traceback entry of `f`'s frame as the error leaves it, unless the frame
// gave it one already (trace.cpp). A pending error is kept as it is.
void trace_leaving(PyObject* exc, const FuncObject* f) noexcept;

// Readies the two types (once per extension module that links the bridge).
bool init_types() noexcept;
PyTypeObject* coro_type() noexcept;
PyTypeObject* func_type() noexcept;

// Makes a function object from a table entry. `module_name` becomes __module__;
// `closure` (may be nullptr) is handed to every call of the body.
PyObject* make_function(const FuncSpec* spec, PyObject* module_name, PyObject* closure) noexcept;

// A copy of a function object that hands `closure` to its body: how a fill makes its inner
// attempt (a parameterless coroutine function over the fill's values) without compiling anything.
PyObject* with_closure(PyObject* proto, PyObject* closure) noexcept;

// Adds every entry of a table to a dict (module globals or a class namespace), in order.
bool add_functions(PyObject* dict, const FuncSpec* specs, std::size_t n, PyObject* module_name,
                   PyObject* closure) noexcept;

}  // namespace zv
