// Traceback entries for C++ coroutine frames. An error passing through a coroutine object's
// chain gets one entry for that coroutine, named as Python names the function (co_name,
// co_qualname), with the C++ file and line where the error is in the chain's code: the
// raise, or the co_await it surfaced at, moved out to the outermost co_await of the chain's
// own tasks as the error unwinds them, as a Python frame's line follows the error up.
//
// Only the paths that handle an error come here; nothing runs while no error travels.
//
// Two ways to make an entry, one per build:
// - full API: a code object per (function, file, line) from PyCode_NewEmpty, a frame on it
//   (PyFrame_New), PyTraceBack_Here, as compiled extension modules do;
// - limited API (no frame functions there): a function per (function, file, line) whose code
//   is `raise box.pop()` compiled once and renamed (`code.replace`), called with the error,
//   so that the interpreter itself raises it in that frame and adds the entry. While it runs,
//   the error is made the handled exception: raising it then leaves its __context__ (and the
//   contexts of others) as they are.
#include "pyasync/coro.hpp"

#ifndef Py_LIMITED_API
#include <frameobject.h>  // PyFrame_New
#endif

#include <cstring>
#include <string>
#include <map>
#include <tuple>
#include <unordered_map>

namespace zv {

namespace {

// A C++ position; file nullptr: none known.
struct Pos {
  const char* file;
  unsigned line;
};

Pos pos_of(std::source_location w) noexcept { return {w.file_name(), w.line()}; }

// Where errors were raised in C++ (throw_current), newest last; no references held, the
// exception is only compared by address. Errors kept across a suspension while others are
// raised are why this is a small ring and not one slot.
struct Raised {
  const PyObject* exc;
  Pos pos;
};
constexpr unsigned kRing = 16;
Raised g_raised[kRing] = {};
unsigned g_raised_next = 0;

Pos raised_at(PyObject* exc) noexcept {
  for (unsigned i = 0; i < kRing; ++i) {
    const Raised& r = g_raised[(g_raised_next + kRing - 1 - i) % kRing];
    if (r.exc == exc) return r.pos;
  }
  return {nullptr, 0};
}

// The path shown: from the source tree's `native/` on (the build's absolute paths stay out).
const char* shown_path(const char* file) noexcept {
  if (!file) return "<ziveviver>";
  const char* best = nullptr;
  for (const char* p = std::strstr(file, "native/"); p; p = std::strstr(p + 1, "native/"))
    if (p == file || p[-1] == '/' || p[-1] == '\\') best = p;
  return best ? best : file;
}

// The entry makers, cached per (function table entry, file, line): finitely many, kept for
// the life of the process (never destroyed, so that they stay reachable until the process
// ends). `g_owner` tells, for an entry's code object, whose it is.
using Key = std::tuple<const FuncSpec*, const char*, unsigned>;
std::map<Key, PyObject*>& g_makers = *new std::map<Key, PyObject*>;
std::unordered_map<const PyObject*, const FuncSpec*>& g_owner =
    *new std::unordered_map<const PyObject*, const FuncSpec*>;
PyObject* g_globals = nullptr;  // the entries' frames' globals: only builtins

bool ready_globals() {
  if (g_globals) return true;
  PyObject* g = PyDict_New();
  if (!g) return false;
  if (PyDict_SetItemString(g, "__builtins__", PyEval_GetBuiltins()) < 0) {
    Py_DECREF(g);
    return false;
  }
  g_globals = g;
  return true;
}

// code.replace(**{names[i]: values[i]})
PyObject* code_replace(PyObject* code, std::initializer_list<std::pair<const char*, PyObject*>> kw) {
  PyObject* replace = PyObject_GetAttrString(code, "replace");
  if (!replace) return nullptr;
  PyObject* args = PyTuple_New(0);
  PyObject* kwargs = PyDict_New();
  PyObject* out = nullptr;
  if (args && kwargs) {
    bool ok = true;
    for (auto& [k, v] : kw) ok = ok && v && PyDict_SetItemString(kwargs, k, v) == 0;
    if (ok) out = PyObject_Call(replace, args, kwargs);
  }
  Py_XDECREF(args);
  Py_XDECREF(kwargs);
  Py_DECREF(replace);
  return out;
}

#ifndef Py_LIMITED_API

// A code object named as the function, on file:line.
PyObject* make_maker(const FuncObject* f, const char* file, unsigned line) {
  const char* name = PyUnicode_AsUTF8(f->name);
  if (!name) return nullptr;
  PyCodeObject* empty = PyCode_NewEmpty(file, name, static_cast<int>(line));
  if (!empty) return nullptr;
  PyObject* code = code_replace(reinterpret_cast<PyObject*>(empty), {{"co_qualname", f->qualname}});
  Py_DECREF(empty);
  return code;
}

PyObject* maker_code(PyObject* maker) { return maker; }

// Adds the entry to `exc`; false with an error set if it could not.
bool add_entry(PyObject* exc, PyObject* code) {
  PyFrameObject* frame = PyFrame_New(PyThreadState_Get(), reinterpret_cast<PyCodeObject*>(code),
                                     g_globals, nullptr);
  if (!frame) return false;
  compat::raise_exception(Py_NewRef(exc));
  int rc = PyTraceBack_Here(frame);
  Py_DECREF(frame);
  PyObject* back = compat::fetch_exception();
  Py_XDECREF(back);
  return rc == 0;
}

PyObject* top_code(PyObject* tb) {
  PyFrameObject* frame = reinterpret_cast<PyTracebackObject*>(tb)->tb_frame;
  return frame ? reinterpret_cast<PyObject*>(PyFrame_GetCode(frame)) : nullptr;
}

PyObject* tb_next(PyObject* tb) {
  return Py_XNewRef(reinterpret_cast<PyObject*>(reinterpret_cast<PyTracebackObject*>(tb)->tb_next));
}

#else  // Py_LIMITED_API

PyObject* g_template = nullptr;       // the code of `def _(box): raise box.pop()`
PyObject* g_function_type = nullptr;  // types.FunctionType

bool ready_template() {
  if (g_template) return true;
  PyObject* code = Py_CompileString("def _(box): raise box.pop()\n", "<ziveviver>", Py_file_input);
  if (!code) return false;
  PyObject* consts = PyObject_GetAttrString(code, "co_consts");
  Py_DECREF(code);
  if (!consts) return false;
  PyObject* inner = nullptr;
  for (Py_ssize_t i = 0, n = PyTuple_Size(consts); i < n && !inner; ++i) {
    PyObject* c = PyTuple_GetItem(consts, i);
    if (c && PyObject_HasAttrString(c, "co_code")) inner = Py_NewRef(c);
  }
  Py_DECREF(consts);
  PyObject* types = PyImport_ImportModule("types");
  PyObject* ftype = types ? PyObject_GetAttrString(types, "FunctionType") : nullptr;
  Py_XDECREF(types);
  if (!inner || !ftype) {
    Py_XDECREF(inner);
    Py_XDECREF(ftype);
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "traceback template");
    return false;
  }
  // Every instruction on the first line, without columns (a caret under a C++ line would
  // point at nothing): one "no columns, line delta 0" location entry per 8 code units.
  PyObject* bytecode = PyObject_GetAttrString(inner, "co_code");
  Py_ssize_t units = bytecode ? PyBytes_Size(bytecode) / 2 : -1;
  Py_XDECREF(bytecode);
  std::string table;
  for (Py_ssize_t left = units; left > 0; left -= 8) {
    Py_ssize_t n = left < 8 ? left : 8;
    table += static_cast<char>(0x80 | (13 << 3) | (n - 1));  // 13: no columns
    table += '\0';
  }
  PyObject* linetable = units > 0 ? PyBytes_FromStringAndSize(table.data(), static_cast<Py_ssize_t>(table.size())) : nullptr;
  if (!linetable) {
    Py_DECREF(inner);
    Py_DECREF(ftype);
    return false;
  }
  g_template = code_replace(inner, {{"co_linetable", linetable}});
  Py_DECREF(linetable);
  Py_DECREF(inner);
  if (!g_template) {
    Py_DECREF(ftype);
    return false;
  }
  g_function_type = ftype;
  return true;
}

// A function named as `f`, on file:line, that raises the error it is given.
PyObject* make_maker(const FuncObject* f, const char* file, unsigned line) {
  if (!ready_template()) return nullptr;
  PyObject* filename = PyUnicode_DecodeFSDefault(file);
  PyObject* first = PyLong_FromUnsignedLong(line);
  PyObject* code = code_replace(g_template, {{"co_name", f->name},
                                             {"co_qualname", f->qualname},
                                             {"co_filename", filename},
                                             {"co_firstlineno", first}});
  Py_XDECREF(filename);
  Py_XDECREF(first);
  if (!code) return nullptr;
  PyObject* fn = PyObject_CallFunctionObjArgs(g_function_type, code, g_globals, f->name, nullptr);
  Py_DECREF(code);
  return fn;
}

PyObject* maker_code(PyObject* maker) {
  PyObject* code = PyObject_GetAttrString(maker, "__code__");
  Py_XDECREF(code);  // the function keeps it
  return code;
}

bool add_entry(PyObject* exc, PyObject* fn) {
  PyObject* box = PyList_New(1);
  if (!box) return false;
  PyList_SetItem(box, 0, Py_NewRef(exc));
  PyObject* handled = PyErr_GetHandledException();
  PyErr_SetHandledException(exc);
  PyObject* r = PyObject_CallOneArg(fn, box);
  PyErr_SetHandledException(handled);
  Py_XDECREF(handled);
  Py_DECREF(box);
  if (r) {  // cannot happen: the code raises
    Py_DECREF(r);
    PyErr_SetString(PyExc_SystemError, "traceback entry did not raise");
    return false;
  }
  PyObject* back = compat::fetch_exception();
  bool same = back == exc;
  Py_XDECREF(back);
  return same;
}

PyObject* top_code(PyObject* tb) {
  PyObject* frame = PyObject_GetAttrString(tb, "tb_frame");
  PyObject* code = frame ? PyObject_GetAttrString(frame, "f_code") : nullptr;
  Py_XDECREF(frame);
  Py_XDECREF(code);  // kept alive by the frame, which the traceback keeps
  return code;
}

PyObject* tb_next(PyObject* tb) {
  PyObject* next = PyObject_GetAttrString(tb, "tb_next");
  if (next == Py_None) Py_CLEAR(next);
  return next;
}

#endif  // Py_LIMITED_API

PyObject* maker_for(const FuncObject* f, Pos pos) {
  const char* file = shown_path(pos.file);
  unsigned line = pos.file ? pos.line : 1;
  Key key{f->spec, pos.file, line};
  auto it = g_makers.find(key);
  if (it != g_makers.end()) return it->second;
  if (!ready_globals()) return nullptr;
  PyObject* m = make_maker(f, file, line);
  if (!m) return nullptr;
  PyObject* code = maker_code(m);
  if (!code) {
    Py_DECREF(m);
    return nullptr;
  }
  g_makers.emplace(key, m);
  g_owner.emplace(code, f->spec);
  return m;
}

// Whether the newest entry of `exc` is one of `f`'s (its chain's); with `drop`, removes it.
bool top_is(PyObject* exc, const FuncObject* f, bool drop) {
  PyObject* tb = PyException_GetTraceback(exc);
  if (!tb) return false;
  bool mine = false;
  if (PyObject* code = top_code(tb)) {
    auto it = g_owner.find(code);
    mine = it != g_owner.end() && it->second == f->spec;
  }
  if (mine && drop) {
    PyObject* next = tb_next(tb);
    PyException_SetTraceback(exc, next ? next : Py_None);
    Py_XDECREF(next);
  }
  Py_DECREF(tb);
  PyErr_Clear();
  return mine;
}

enum class Mode {
  add,      // a new entry: the error came in from outside the chain
  outward,  // the chain's entry moves to this position (added if missing)
  ensure,   // an entry where it was raised, unless the chain has one already
};

// Never fails: an entry that cannot be made is left out; a pending error is kept as it is.
void trace(PyObject* exc, const FuncObject* f, Mode mode, Pos pos) noexcept {
  if (!exc || !f) return;
  PyObject* pending = compat::fetch_exception();
  bool skip = false;
  if (mode == Mode::outward) top_is(exc, f, true);
  else if (mode == Mode::ensure) {
    skip = top_is(exc, f, false);
    if (!skip) pos = raised_at(exc);
  }
  if (!skip) {
    PyObject* maker = maker_for(f, pos);
    if (!maker || !add_entry(exc, maker)) PyErr_Clear();
  }
  if (pending) compat::raise_exception(pending);
}

FuncObject* driving_function() noexcept { return g_driving ? g_driving->func : nullptr; }

}  // namespace

void note_raise(PyObject* exc, std::source_location where) noexcept {
  g_raised[g_raised_next] = {exc, pos_of(where)};
  g_raised_next = (g_raised_next + 1) % kRing;
}

void trace_surfaced(PyObject* exc, std::source_location where) noexcept {
  trace(exc, driving_function(), Mode::add, pos_of(where));
}

void trace_handled(PyObject* exc) noexcept { trace(exc, driving_function(), Mode::ensure, {}); }

void trace_leaving(PyObject* exc, const FuncObject* f) noexcept { trace(exc, f, Mode::ensure, {}); }

void rethrow_traced(std::exception_ptr e, std::source_location where) {
  if (FuncObject* f = driving_function()) {
    try {
      std::rethrow_exception(e);
    } catch (PyError& x) {
      trace(x.get(), f, Mode::outward, pos_of(where));
      throw;
    } catch (PyAbort& x) {
      trace(x.get(), f, Mode::outward, pos_of(where));
      throw;
    }
  }
  std::rethrow_exception(e);
}

}  // namespace zv
