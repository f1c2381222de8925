// The function object: one type for every public function and method. Binds arguments with
// CPython's rules and messages, then either returns a new coroutine object holding the bound
// arguments (coroutine functions) or runs the body at once (plain functions).
#include "pyasync/coro.hpp"

#include <string>

namespace zv {

PyObject* coro_new(FuncObject* f, PyObject* const* bound);
bool init_coro_type() noexcept;

static PyTypeObject* g_func_type = nullptr;
PyTypeObject* func_type() noexcept { return g_func_type; }

constexpr Py_ssize_t kMaxParams = 16;

static FuncObject* as_func(PyObject* o) { return reinterpret_cast<FuncObject*>(o); }

// ---------------------------------------------------------------- binding, CPython's way

static void too_many_positional(FuncObject* f, Py_ssize_t given) {
  Py_ssize_t ndef = f->nparams - f->nrequired;
  if (ndef) {
    PyErr_Format(PyExc_TypeError, "%U() takes from %zd to %zd positional arguments but %zd %s given",
                 f->qualname, f->nrequired, f->nparams, given, given == 1 ? "was" : "were");
  } else {
    PyErr_Format(PyExc_TypeError, "%U() takes %zd positional argument%s but %zd %s given",
                 f->qualname, f->nparams, f->nparams == 1 ? "" : "s", given,
                 given == 1 ? "was" : "were");
  }
}

static void missing_arguments(FuncObject* f, PyObject* names /* list of str */) {
  Py_ssize_t n = PyList_GET_SIZE(names);
  PyObject* text = nullptr;
  // Names appear as their repr, joined as CPython joins them.
  for (Py_ssize_t i = 0; i < n; ++i) {
    PyObject* r = PyObject_Repr(PyList_GET_ITEM(names, i));
    if (!r) return;
    if (PyList_SetItem(names, i, r) < 0) return;  // the repr replaces the name
  }
  if (n == 1) {
    text = Py_NewRef(PyList_GET_ITEM(names, 0));
  } else if (n == 2) {
    text = PyUnicode_FromFormat("%U and %U", PyList_GET_ITEM(names, 0), PyList_GET_ITEM(names, 1));
  } else {
    PyObject* tail = PyUnicode_FromFormat(", %U, and %U", PyList_GET_ITEM(names, n - 2),
                                          PyList_GET_ITEM(names, n - 1));
    if (!tail) return;
    PyObject* head_list = PyList_GetSlice(names, 0, n - 2);
    PyObject* sep = PyUnicode_FromString(", ");
    PyObject* head = head_list && sep ? PyUnicode_Join(sep, head_list) : nullptr;
    Py_XDECREF(head_list);
    Py_XDECREF(sep);
    if (head) text = PyUnicode_Concat(head, tail);
    Py_XDECREF(head);
    Py_DECREF(tail);
  }
  if (!text) return;
  PyErr_Format(PyExc_TypeError, "%U() missing %zd required positional argument%s: %U", f->qualname,
               n, n == 1 ? "" : "s", text);
  Py_DECREF(text);
}

static PyObject* varname(FuncObject* f, Py_ssize_t i) {
  return PyTuple_GET_ITEM(f->stub_names, i);
}

// Fills `out` (f->nparams borrowed references). Returns false with TypeError set.
static bool bind(FuncObject* f, PyObject* const* args, size_t nargsf, PyObject* kwnames,
                 PyObject** out) {
  Py_ssize_t np = f->nparams;
  Py_ssize_t n = PyVectorcall_NARGS(nargsf);
  Py_ssize_t i = 0;
  for (; i < np && i < n; ++i) out[i] = args[i];
  for (; i < np; ++i) out[i] = nullptr;
  if (kwnames) {
    Py_ssize_t nk = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < nk; ++k) {
      PyObject* key = PyTuple_GET_ITEM(kwnames, k);
      Py_ssize_t j = 0;
      for (; j < np; ++j)
        if (varname(f, j) == key) break;
      if (j == np) {
        for (j = 0; j < np; ++j) {
          int eq = PyObject_RichCompareBool(varname(f, j), key, Py_EQ);
          if (eq < 0) return false;
          if (eq) break;
        }
      }
      if (j == np) {
        PyErr_Format(PyExc_TypeError, "%U() got an unexpected keyword argument '%S'", f->qualname, key);
        return false;
      }
      if (out[j]) {
        PyErr_Format(PyExc_TypeError, "%U() got multiple values for argument '%S'", f->qualname, key);
        return false;
      }
      out[j] = args[n + k];
    }
  }
  if (n > np) {
    too_many_positional(f, n);
    return false;
  }
  PyObject* missing = nullptr;
  for (Py_ssize_t j = 0; j < f->nrequired; ++j) {
    if (out[j]) continue;
    if (!missing && !(missing = PyList_New(0))) return false;
    if (PyList_Append(missing, varname(f, j)) < 0) {
      Py_DECREF(missing);
      return false;
    }
  }
  if (missing) {
    missing_arguments(f, missing);
    Py_DECREF(missing);
    return false;
  }
  for (Py_ssize_t j = f->nrequired; j < np; ++j)
    if (!out[j]) out[j] = PyTuple_GET_ITEM(f->defaults, j - f->nrequired);
  return true;
}

static PyObject* func_vectorcall(PyObject* self, PyObject* const* args, size_t nargsf,
                                 PyObject* kwnames) {
  FuncObject* f = as_func(self);
  PyObject* bound[kMaxParams];
  if (!bind(f, args, nargsf, kwnames, bound)) return nullptr;
  if (f->spec->coro) return coro_new(f, bound);
  try {
    return f->spec->sync(Call{bound, f->nparams, f->closure}).release();
  } catch (...) {
    set_error_from(std::current_exception());
    PyObject* exc = compat::fetch_exception();
    trace_leaving(exc, f);
    compat::raise_exception(exc);
    return nullptr;
  }
}

// ---------------------------------------------------------------- attributes

static PyObject* func_descr_get(PyObject* self, PyObject* obj, PyObject*) {
  if (!obj || obj == Py_None) return Py_NewRef(self);
  return compat::method_new(self, obj);
}

static PyObject* func_repr(PyObject* self) {
  return PyUnicode_FromFormat("<function %U at %p>", as_func(self)->qualname, self);
}

static int func_traverse(PyObject* self, visitproc visit, void* arg) {
  FuncObject* f = as_func(self);
  Py_VISIT(Py_TYPE(self));
  Py_VISIT(f->closure);
  Py_VISIT(f->dict);
  Py_VISIT(f->stub);
  Py_VISIT(f->signature);
  Py_VISIT(f->module);
  return 0;
}

static int func_clear(PyObject* self) {
  FuncObject* f = as_func(self);
  Py_CLEAR(f->closure);
  Py_CLEAR(f->dict);
  Py_CLEAR(f->signature);
  return 0;
}

static void func_dealloc(PyObject* self) {
  FuncObject* f = as_func(self);
  PyObject_GC_UnTrack(self);
  if (f->weakrefs) PyObject_ClearWeakRefs(self);
  Py_CLEAR(f->name);
  Py_CLEAR(f->qualname);
  Py_CLEAR(f->module);
  Py_CLEAR(f->doc);
  Py_CLEAR(f->code);
  Py_CLEAR(f->defaults);
  Py_CLEAR(f->annotations);
  Py_CLEAR(f->stub);
  Py_CLEAR(f->stub_names);
  Py_CLEAR(f->closure);
  Py_CLEAR(f->signature);
  Py_CLEAR(f->dict);
  PyTypeObject* tp = Py_TYPE(self);
  compat::free_object(self);
  Py_DECREF(tp);
}

static PyObject* get_defaults(PyObject* self, void*) {
  FuncObject* f = as_func(self);
  return Py_NewRef(PyTuple_GET_SIZE(f->defaults) ? f->defaults : Py_None);
}
static PyObject* get_none(PyObject*, void*) { Py_RETURN_NONE; }
static PyObject* get_signature(PyObject* self, void*) {
  FuncObject* f = as_func(self);
  if (!f->signature) {
    PyObject* inspect = PyImport_ImportModule("inspect");
    if (!inspect) return nullptr;
    f->signature = PyObject_CallMethod(inspect, "signature", "O", f->stub);
    Py_DECREF(inspect);
    if (!f->signature) return nullptr;
  }
  return Py_NewRef(f->signature);
}

static PyMemberDef func_members[] = {
    {"__name__", T_OBJECT, offsetof(FuncObject, name), READONLY, nullptr},
    {"__qualname__", T_OBJECT, offsetof(FuncObject, qualname), READONLY, nullptr},
    {"__module__", T_OBJECT, offsetof(FuncObject, module), 0, nullptr},
    {"__doc__", T_OBJECT, offsetof(FuncObject, doc), READONLY, nullptr},
    {"__code__", T_OBJECT, offsetof(FuncObject, code), READONLY, nullptr},
    {"__annotations__", T_OBJECT, offsetof(FuncObject, annotations), READONLY, nullptr},
    {"__vectorcalloffset__", T_PYSSIZET, offsetof(FuncObject, vectorcall), READONLY, nullptr},
    {"__dictoffset__", T_PYSSIZET, offsetof(FuncObject, dict), READONLY, nullptr},
    {"__weaklistoffset__", T_PYSSIZET, offsetof(FuncObject, weakrefs), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr}};

static PyGetSetDef func_getset[] = {
    {"__defaults__", get_defaults, nullptr, nullptr, nullptr},
    {"__kwdefaults__", get_none, nullptr, nullptr, nullptr},
    {"__signature__", get_signature, nullptr, nullptr, nullptr},
    {"__dict__", PyObject_GenericGetDict, PyObject_GenericSetDict, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr}};

static PyType_Slot func_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(func_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(func_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(func_clear)},
    {Py_tp_repr, reinterpret_cast<void*>(func_repr)},
    {Py_tp_call, reinterpret_cast<void*>(PyVectorcall_Call)},
    {Py_tp_descr_get, reinterpret_cast<void*>(func_descr_get)},
    {Py_tp_members, func_members},
    {Py_tp_getset, func_getset},
    {0, nullptr}};

static PyType_Spec func_spec = {
    "ziveviver.function", sizeof(FuncObject), 0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_HAVE_VECTORCALL |
        Py_TPFLAGS_METHOD_DESCRIPTOR | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    func_slots};

bool init_types() noexcept {
  if (!init_coro_type()) return false;
  if (g_func_type) return true;
  PyObject* t = PyType_FromSpec(&func_spec);
  if (!t) return false;
  g_func_type = reinterpret_cast<PyTypeObject*>(t);
  return true;
}

// ---------------------------------------------------------------- making functions

// Compiles `[async] def name(params) [-> returns]: pass` and returns the stub function: it
// gives the real function its code object (flagged as a coroutine for coroutine functions, so
// inspect.iscoroutinefunction answers yes), its parameter names, defaults and annotations.
static PyObject* compile_stub(const FuncSpec* s) {
  std::string src = s->coro ? "async def " : "def ";
  src += s->name;
  src += "(";
  src += s->params;
  src += ")";
  if (s->returns) {
    src += " -> ";
    src += s->returns;
  }
  src += ":\n    pass\n";
  PyObject* code = Py_CompileString(src.c_str(), "<ziveviver>", Py_file_input);
  if (!code) return nullptr;
  PyObject* ns = PyDict_New();
  if (!ns || PyDict_SetItemString(ns, "__builtins__", PyEval_GetBuiltins()) < 0) {
    Py_DECREF(code);
    Py_XDECREF(ns);
    return nullptr;
  }
  PyObject* r = PyEval_EvalCode(code, ns, ns);
  Py_DECREF(code);
  if (!r) {
    Py_DECREF(ns);
    return nullptr;
  }
  Py_DECREF(r);
  PyObject* stub = PyDict_GetItemString(ns, s->name);
  Py_XINCREF(stub);
  Py_DECREF(ns);
  return stub;
}

PyObject* make_function(const FuncSpec* s, PyObject* module_name, PyObject* closure) noexcept {
  Ref stub = Ref::steal(compile_stub(s));
  if (!stub) return nullptr;
  const char* qn = s->qualname ? s->qualname : s->name;
  Ref qualname = Ref::steal(PyUnicode_FromString(qn));
  Ref code = Ref::steal(PyObject_GetAttrString(stub.get(), "__code__"));
  if (!qualname || !code) return nullptr;
  if (s->qualname) {
    Ref replace = Ref::steal(PyObject_GetAttrString(code.get(), "replace"));
    Ref kw = Ref::steal(Py_BuildValue("{sO}", "co_qualname", qualname.get()));
    Ref empty = Ref::steal(PyTuple_New(0));
    if (!replace || !kw || !empty) return nullptr;
    code = Ref::steal(PyObject_Call(replace.get(), empty.get(), kw.get()));
    if (!code || PyObject_SetAttrString(stub.get(), "__code__", code.get()) < 0 ||
        PyObject_SetAttrString(stub.get(), "__qualname__", qualname.get()) < 0)
      return nullptr;
  }
  Ref doc = s->doc ? Ref::steal(PyUnicode_FromString(s->doc)) : Ref::borrow(Py_None);
  if (!doc || PyObject_SetAttrString(stub.get(), "__doc__", doc.get()) < 0) return nullptr;
  if (module_name && PyObject_SetAttrString(stub.get(), "__module__", module_name) < 0)
    return nullptr;
  Ref defaults = Ref::steal(PyObject_GetAttrString(stub.get(), "__defaults__"));
  Ref annotations = Ref::steal(PyObject_GetAttrString(stub.get(), "__annotations__"));
  Ref names = Ref::steal(PyObject_GetAttrString(code.get(), "co_varnames"));
  Ref argcount = Ref::steal(PyObject_GetAttrString(code.get(), "co_argcount"));
  if (!defaults || !annotations || !names || !argcount) return nullptr;
  if (defaults.get() == Py_None) defaults = Ref::steal(PyTuple_New(0));
  Py_ssize_t np = PyLong_AsSsize_t(argcount.get());
  if (np > kMaxParams) {
    PyErr_SetString(PyExc_SystemError, "too many parameters for a bridged function");
    return nullptr;
  }
  FuncObject* f = PyObject_GC_New(FuncObject, g_func_type);
  if (!f) return nullptr;
  f->vectorcall = func_vectorcall;
  f->spec = s;
  f->name = PyUnicode_FromString(s->name);
  f->qualname = qualname.release();
  f->module = Py_NewRef(module_name ? module_name : Py_None);
  f->doc = doc.release();
  f->code = code.release();
  f->defaults = defaults.release();
  f->annotations = annotations.release();
  f->stub = stub.release();
  f->stub_names = PyTuple_GetSlice(names.get(), 0, np);
  f->closure = Py_XNewRef(closure);
  f->signature = nullptr;
  f->dict = PyDict_New();
  f->weakrefs = nullptr;
  f->nparams = np;
  f->nrequired = np - PyTuple_GET_SIZE(f->defaults);
  PyObject* self = reinterpret_cast<PyObject*>(f);
  PyObject_GC_Track(self);
  if (!f->name || !f->stub_names || !f->dict) {
    Py_DECREF(self);
    return nullptr;
  }
  return self;
}

PyObject* with_closure(PyObject* proto_obj, PyObject* closure) noexcept {
  FuncObject* p = as_func(proto_obj);
  FuncObject* f = PyObject_GC_New(FuncObject, g_func_type);
  if (!f) return nullptr;
  f->vectorcall = func_vectorcall;
  f->spec = p->spec;
  f->name = Py_NewRef(p->name);
  f->qualname = Py_NewRef(p->qualname);
  f->module = Py_NewRef(p->module);
  f->doc = Py_NewRef(p->doc);
  f->code = Py_NewRef(p->code);
  f->defaults = Py_NewRef(p->defaults);
  f->annotations = Py_NewRef(p->annotations);
  f->stub = Py_NewRef(p->stub);
  f->stub_names = Py_NewRef(p->stub_names);
  f->closure = Py_XNewRef(closure);
  f->signature = nullptr;
  f->dict = nullptr;  // made on demand by __dict__
  f->weakrefs = nullptr;
  f->nparams = p->nparams;
  f->nrequired = p->nrequired;
  PyObject_GC_Track(f);
  return reinterpret_cast<PyObject*>(f);
}

bool add_functions(PyObject* dict, const FuncSpec* specs, std::size_t n, PyObject* module_name,
                   PyObject* closure) noexcept {
  for (std::size_t i = 0; i < n; ++i) {
    PyObject* f = make_function(&specs[i], module_name, closure);
    if (!f) return false;
    int rc = PyDict_SetItemString(dict, specs[i].name, f);
    Py_DECREF(f);
    if (rc < 0) return false;
  }
  return true;
}

}  // namespace zv
