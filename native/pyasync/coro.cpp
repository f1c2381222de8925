// The coroutine object: drives a C++ Task chain the way CPython drives a coroutine's frame,
// delegating to one Python iterator at a time as `yield from` does.
#include "pyasync/coro.hpp"

#include <cassert>
#include <cstring>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#define ZV_NO_FRAME_FREELIST 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZV_NO_FRAME_FREELIST 1
#endif
#endif

namespace zv {

CoroObject* g_driving = nullptr;
static PyTypeObject* g_coro_type = nullptr;

PyTypeObject* coro_type() noexcept { return g_coro_type; }

// ---------------------------------------------------------------- frame free list

namespace {
constexpr std::size_t kGrain = 64;
constexpr std::size_t kClasses = 48;  // frames up to 3 KiB are recycled
constexpr unsigned kKeep = 32;
struct FreeFrame { FreeFrame* next; };
FreeFrame* g_free[kClasses] = {};
unsigned g_free_n[kClasses] = {};
}  // namespace

void* frame_alloc(std::size_t n) {
#ifndef ZV_NO_FRAME_FREELIST
  std::size_t k = (n + kGrain - 1) / kGrain;
  if (k < kClasses) {
    if (FreeFrame* f = g_free[k]) {
      g_free[k] = f->next;
      --g_free_n[k];
      return f;
    }
    return ::operator new(k * kGrain);
  }
#endif
  return ::operator new(n);
}

void frame_free(void* p, std::size_t n) noexcept {
#ifndef ZV_NO_FRAME_FREELIST
  std::size_t k = (n + kGrain - 1) / kGrain;
  if (k < kClasses && g_free_n[k] < kKeep) {
    auto* f = static_cast<FreeFrame*>(p);
    f->next = g_free[k];
    g_free[k] = f;
    ++g_free_n[k];
    return;
  }
#else
  (void)n;
#endif
  ::operator delete(p);
}

// ---------------------------------------------------------------- held exceptions

Held::Held() noexcept : owner_(g_driving) {
  if (owner_) {
    next_ = owner_->held;
    if (next_) next_->prev_ = this;
    owner_->held = this;
  }
}

Held::Held(Ref r) noexcept : Held() { obj_ = r.release(); }

Held::~Held() {
  if (owner_) {
    if (prev_) prev_->next_ = next_;
    else owner_->held = next_;
    if (next_) next_->prev_ = prev_;
  }
  Py_XDECREF(obj_);
}

void Held::set(Ref r) noexcept {
  PyObject* old = obj_;
  obj_ = r.release();
  Py_XDECREF(old);
}

Ref Held::take() noexcept {
  PyObject* o = obj_;
  obj_ = nullptr;
  return Ref::steal(o);
}

void Held::rethrow() {
  PyObject* o = obj_;
  obj_ = nullptr;
  throw_exception(o);
}

int coro_traverse_held(CoroObject* c, visitproc visit, void* arg) {
  for (Held* h = c->held; h; h = h->next_) Py_VISIT(h->obj_);
  return 0;
}

// ---------------------------------------------------------------- awaiting a Python awaitable

// The iterator `await obj` would drive, as CPython computes it.
// A generator made by @types.coroutine is awaitable as it is.
static bool is_iterable_coroutine(PyObject* o) {
  if (!compat::is_generator_exact(o)) return false;
  PyObject* code = PyObject_GetAttrString(o, "gi_code");
  if (!code) {
    PyErr_Clear();
    return false;
  }
  bool yes = compat::is_iterable_coroutine_code(code);
  Py_DECREF(code);
  return yes;
}

static PyObject* awaitable_iter(PyObject* o) {
  if (compat::is_coroutine_exact(o) || is_iterable_coroutine(o)) return Py_NewRef(o);
  PyTypeObject* t = Py_TYPE(o);
#ifndef Py_LIMITED_API
  // (Read in place: the full API's code stays as it was, slot loads and all.)
  if (t->tp_as_async && t->tp_as_async->am_await) {
    PyObject* it = t->tp_as_async->am_await(o);
#else
  if (unaryfunc am_await = compat::am_await(t)) {
    PyObject* it = am_await(o);
#endif
    if (!it) return nullptr;
    if (compat::is_coroutine_exact(it)) {
      Py_DECREF(it);
      PyErr_SetString(PyExc_TypeError, "__await__() returned a coroutine");
      return nullptr;
    }
    if (!PyIter_Check(it)) {
      PyErr_Format(PyExc_TypeError, "__await__() returned non-iterator of type '%.100s'",
                   compat::TypeName(it).c_str());
      Py_DECREF(it);
      return nullptr;
    }
    return it;
  }
  PyErr_Format(PyExc_TypeError, "object %.100s can't be used in 'await' expression",
               compat::TypeName(t).c_str());
  return nullptr;
}

bool PyAwait::await_ready() {
  PyObject* it = awaitable_iter(awaitable.get());
  // Drop the awaitable now: the collector cannot see references held in a C++ frame.
  awaitable.reset();
  if (!it) {  // raised at the co_await, by await_resume (which knows where that is)
    error = Ref::steal(compat::fetch_exception());
    return true;
  }
  PyObject* res = nullptr;
  PySendResult r = PyIter_Send(it, Py_None, &res);
  if (r == PYGEN_RETURN) {
    Py_DECREF(it);
    result = Ref::steal(res);
    return true;
  }
  if (r == PYGEN_ERROR) {
    Py_DECREF(it);
    error = Ref::steal(compat::fetch_exception());
    return true;
  }
  driver_suspend(this, it, res);
  return false;
}

void driver_suspend(PyAwait* awaiter, PyObject* iter, PyObject* yielded) noexcept {
  CoroObject* c = g_driving;
  // Only a chain that a coroutine object is driving suspends, on one delegate at a time.
  assert(c && !c->pending && !c->await_iter && !c->yielded && yielded);
  c->pending = awaiter;
  c->await_iter = iter;
  c->yielded = yielded;
}

void driver_set_leaf(std::coroutine_handle<> h) noexcept {
  assert(g_driving && g_driving->pending && !g_driving->leaf);
  g_driving->leaf = h;
}

// ---------------------------------------------------------------- errors at the boundary

void set_error_from(std::exception_ptr e) noexcept {
  try {
    std::rethrow_exception(e);
  } catch (PyError& x) {
    compat::raise_exception(x.take().release());
  } catch (PyAbort& x) {
    compat::raise_exception(x.take().release());
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& x) {
    PyErr_SetString(PyExc_RuntimeError, x.what());
  } catch (...) {
    PyErr_SetString(PyExc_SystemError, "unknown C++ exception");
  }
}

static void set_stop_iteration(PyObject* value) {  // steals value
  if (value == Py_None) {
    Py_DECREF(value);
    PyErr_SetNone(PyExc_StopIteration);
    return;
  }
  if (!PyTuple_Check(value) && !PyExceptionInstance_Check(value)) {
    // As CPython does: the instance is made only if someone looks at it (before 3.12).
    PyErr_SetObject(PyExc_StopIteration, value);
    Py_DECREF(value);
    return;
  }
  PyObject* e = PyObject_CallOneArg(PyExc_StopIteration, value);
  Py_DECREF(value);
  if (e) {
    PyErr_SetObject(PyExc_StopIteration, e);
    Py_DECREF(e);
  }
}

// ---------------------------------------------------------------- the driver

static CoroObject* as_coro(PyObject* o) { return reinterpret_cast<CoroObject*>(o); }
// The number of bound arguments (the limited API's Py_SIZE takes a PyObject*).
static Py_ssize_t nargs(CoroObject* c) { return Py_SIZE(reinterpret_cast<PyObject*>(c)); }

// The root finished: take its outcome out, destroy the frame, then report.
static PySendResult coro_finish(CoroObject* c, PyObject** out) {
  assert(c->root.done() && !c->pending && !c->await_iter);
  TaskPromise<Ref>& p = c->root.promise();
  std::exception_ptr err = std::exchange(p.error, nullptr);
  Ref value;
  if (!err && p.value) value = std::move(*p.value);
  auto h = std::exchange(c->root, {});
  c->state = CoroState::done;
  h.destroy();
  if (err) {
    set_error_from(err);
    err = nullptr;
    PyObject* exc = compat::fetch_exception();
    trace_leaving(exc, c->func);
    compat::raise_exception(exc);
    if (PyErr_ExceptionMatches(PyExc_StopIteration)) {
      PyObject* cause = compat::fetch_exception();
      PyErr_SetString(PyExc_RuntimeError, "coroutine raised StopIteration");
      PyObject* rt = compat::fetch_exception();
      PyException_SetCause(rt, Py_NewRef(cause));
      PyException_SetContext(rt, cause);
      compat::raise_exception(rt);
    }
    *out = nullptr;
    return PYGEN_ERROR;
  }
  *out = value ? value.release() : Py_NewRef(Py_None);
  return PYGEN_RETURN;
}

static PySendResult coro_resume(CoroObject* c, PyObject** out) {
  std::coroutine_handle<> h = c->leaf ? std::exchange(c->leaf, {}) : c->root;
  CoroObject* prev = std::exchange(g_driving, c);
  h.resume();
  g_driving = prev;
  if (c->root.done()) return coro_finish(c, out);
  // Every suspension of a chain goes through an awaiter on a Python delegate.
  assert(c->pending && c->await_iter && c->leaf && c->yielded);
  c->state = CoroState::suspended;
  *out = std::exchange(c->yielded, nullptr);
  return PYGEN_NEXT;
}

// The delegate answered: hand its outcome to the suspended awaiter, or pass a yield out.
static PySendResult coro_after_delegate(CoroObject* c, PySendResult r, PyObject* res,
                                        PyObject** out) {
  if (r == PYGEN_NEXT) {
    c->state = CoroState::suspended;
    *out = res;
    return PYGEN_NEXT;
  }
  assert(c->pending && c->await_iter);
  Py_CLEAR(c->await_iter);
  PyAwait* a = std::exchange(c->pending, nullptr);
  if (r == PYGEN_RETURN) a->result = Ref::steal(res);
  else a->error = Ref::steal(compat::fetch_exception());
  return coro_resume(c, out);
}

static bool coro_start(CoroObject* c) {
  try {
    const FuncSpec* s = c->func->spec;
    c->root = s->coro(Call{c->args, nargs(c), c->func->closure}).release();
    return true;
  } catch (...) {
    set_error_from(std::current_exception());
    return false;
  }
}

static PySendResult coro_send_impl(CoroObject* c, PyObject* arg, PyObject** out) {
  switch (c->state) {
    case CoroState::running:
      PyErr_SetString(PyExc_ValueError, "coroutine already executing");
      return PYGEN_ERROR;
    case CoroState::done:
      PyErr_SetString(PyExc_RuntimeError, "cannot reuse already awaited coroutine");
      return PYGEN_ERROR;
    case CoroState::created:
      if (arg && arg != Py_None) {
        PyErr_SetString(PyExc_TypeError, "can't send non-None value to a just-started coroutine");
        return PYGEN_ERROR;
      }
      c->state = CoroState::running;
      if (!coro_start(c)) {
        c->state = CoroState::done;
        return PYGEN_ERROR;
      }
      return coro_resume(c, out);
    case CoroState::suspended: {
      assert(c->await_iter && c->pending);
      c->state = CoroState::running;
      PyObject* res = nullptr;
      PySendResult r = PyIter_Send(c->await_iter, arg ? arg : Py_None, &res);
      return coro_after_delegate(c, r, res, out);
    }
  }
  return PYGEN_ERROR;
}

// Destroys the C++ frame chain of a suspended coroutine; RAII releases what the frames hold.
static void coro_drop_frame(CoroObject* c) {
  c->pending = nullptr;
  c->leaf = {};
  Py_CLEAR(c->yielded);
  if (c->root) {
    auto h = std::exchange(c->root, {});
    CoroObject* prev = std::exchange(g_driving, c);
    h.destroy();
    g_driving = prev;
  }
}

// Closes a delegate the way CPython's gen_close closes the iterator it yields from.
static int close_delegate(PyObject* it) {
  if (Py_TYPE(it) == g_coro_type) {
    PyObject* r = PyObject_CallMethod(it, "close", nullptr);
    if (!r) return -1;
    Py_DECREF(r);
    return 0;
  }
  PyObject* meth = PyObject_GetAttrString(it, "close");
  if (!meth) {
    if (PyErr_ExceptionMatches(PyExc_AttributeError)) {
      PyErr_Clear();
      return 0;
    }
    return -1;
  }
  PyObject* r = PyObject_CallNoArgs(meth);
  Py_DECREF(meth);
  if (!r) return -1;
  Py_DECREF(r);
  return 0;
}

// close(): close the delegate, then unwind the frames (our bodies never catch
// GeneratorExit, so unwinding is what raising it inside would do).
static int coro_close_impl(CoroObject* c) {
  switch (c->state) {
    case CoroState::running:
      PyErr_SetString(PyExc_ValueError, "coroutine already executing");
      return -1;
    case CoroState::created:
    case CoroState::done:
      c->state = CoroState::done;
      return 0;
    case CoroState::suspended:
      break;
  }
  c->state = CoroState::running;
  Ref it = Ref::steal(std::exchange(c->await_iter, nullptr));
  Ref err;
  if (it && close_delegate(it.get()) < 0) err = Ref::steal(compat::fetch_exception());
  it.reset();
  coro_drop_frame(c);
  c->state = CoroState::done;
  if (err) {
    compat::raise_exception(err.release());
    return -1;
  }
  return 0;
}

// Makes an exception instance from throw()'s arguments, as generator.throw does.
static PyObject* make_thrown(PyObject* typ, PyObject* val, PyObject* tb) {
  if (tb == Py_None) tb = nullptr;
  if (tb && !PyTraceBack_Check(tb)) {
    PyErr_SetString(PyExc_TypeError, "throw() third argument must be a traceback object");
    return nullptr;
  }
  PyObject* exc = nullptr;
  if (PyExceptionInstance_Check(typ)) {
    if (val && val != Py_None) {
      PyErr_SetString(PyExc_TypeError, "instance exception may not have a separate value");
      return nullptr;
    }
    exc = Py_NewRef(typ);
  } else if (PyExceptionClass_Check(typ)) {
    PyErr_SetObject(typ, val ? val : Py_None);
    exc = compat::fetch_exception();
    if (!exc) return nullptr;
    if (!PyObject_TypeCheck(exc, reinterpret_cast<PyTypeObject*>(typ))) {
      // the constructor returned something else; CPython reports that too
    }
  } else {
    PyErr_Format(PyExc_TypeError,
                 "exceptions must be classes or instances deriving from BaseException, not %s",
                 compat::TypeName(typ).c_str());
    return nullptr;
  }
  if (tb) PyException_SetTraceback(exc, tb);
  return exc;
}

// throw(): raise `exc` (stolen) at the point of suspension, through the delegate first.
static PySendResult coro_throw_impl(CoroObject* c, PyObject* exc, PyObject** out) {
  switch (c->state) {
    case CoroState::running:
      Py_DECREF(exc);
      PyErr_SetString(PyExc_ValueError, "coroutine already executing");
      return PYGEN_ERROR;
    case CoroState::created:
    case CoroState::done:
      c->state = CoroState::done;
      compat::raise_exception(exc);
      return PYGEN_ERROR;
    case CoroState::suspended:
      break;
  }
  assert(c->await_iter && c->pending);
  c->state = CoroState::running;
  if (PyErr_GivenExceptionMatches(exc, PyExc_GeneratorExit)) {
    // As gen.throw(GeneratorExit) does: close the delegate, then unwind here.
    Ref it = Ref::steal(std::exchange(c->await_iter, nullptr));
    if (it && close_delegate(it.get()) < 0) {
      Py_DECREF(exc);
      exc = compat::fetch_exception();
    }
    it.reset();
    coro_drop_frame(c);
    c->state = CoroState::done;
    compat::raise_exception(exc);
    return PYGEN_ERROR;
  }
  PyObject* meth = PyObject_GetAttrString(c->await_iter, "throw");
  if (!meth) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) {
      Py_DECREF(exc);
      exc = compat::fetch_exception();
    } else {
      PyErr_Clear();
    }
    // No throw() on the delegate: the exception surfaces at the co_await.
    Py_CLEAR(c->await_iter);
    PyAwait* a = std::exchange(c->pending, nullptr);
    a->error = Ref::steal(exc);
    return coro_resume(c, out);
  }
  PyObject* res = PyObject_CallOneArg(meth, exc);
  Py_DECREF(meth);
  Py_DECREF(exc);
  if (res) return coro_after_delegate(c, PYGEN_NEXT, res, out);
  if (PyErr_ExceptionMatches(PyExc_StopIteration)) {
    PyObject* stop = compat::fetch_exception();
    PyObject* value = compat::stop_iteration_value(stop);
    Py_DECREF(stop);
    return coro_after_delegate(c, PYGEN_RETURN, value, out);
  }
  return coro_after_delegate(c, PYGEN_ERROR, nullptr, out);
}

// ---------------------------------------------------------------- the type's slots

static PyObject* send_result_to_python(PySendResult r, PyObject* out) {
  if (r == PYGEN_NEXT) return out;
  if (r == PYGEN_RETURN) set_stop_iteration(out);
  return nullptr;
}

static PySendResult coro_am_send(PyObject* self, PyObject* arg, PyObject** result) {
  return coro_send_impl(as_coro(self), arg, result);
}

static PyObject* coro_send(PyObject* self, PyObject* arg) {
  PyObject* out = nullptr;
  PySendResult r = coro_send_impl(as_coro(self), arg, &out);
  return send_result_to_python(r, out);
}

static PyObject* coro_iternext(PyObject* self) {
  PyObject* out = nullptr;
  PySendResult r = coro_send_impl(as_coro(self), Py_None, &out);
  if (r == PYGEN_RETURN) {
    if (out == Py_None) {
      Py_DECREF(out);
      return nullptr;
    }
    set_stop_iteration(out);
    return nullptr;
  }
  return r == PYGEN_NEXT ? out : nullptr;
}

static PyObject* coro_throw(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
  if (nargs < 1 || nargs > 3) {
    PyErr_Format(PyExc_TypeError, "throw expected at least 1 argument, got %zd", nargs);
    if (nargs > 3)
      PyErr_Format(PyExc_TypeError, "throw expected at most 3 arguments, got %zd", nargs);
    return nullptr;
  }
  PyObject* exc = make_thrown(args[0], nargs > 1 ? args[1] : nullptr, nargs > 2 ? args[2] : nullptr);
  if (!exc) return nullptr;
  PyObject* out = nullptr;
  PySendResult r = coro_throw_impl(as_coro(self), exc, &out);
  return send_result_to_python(r, out);
}

static PyObject* coro_close(PyObject* self, PyObject*) {
  if (coro_close_impl(as_coro(self)) < 0) return nullptr;
  Py_RETURN_NONE;
}

static PyObject* coro_await(PyObject* self) { return Py_NewRef(self); }

static void coro_finalize(PyObject* self) {
  CoroObject* c = as_coro(self);
  if (c->state == CoroState::done) return;
  PyObject* saved = compat::fetch_exception();
  if (c->state == CoroState::created) {
    c->state = CoroState::done;
    if (PyErr_WarnFormat(PyExc_RuntimeWarning, 1, "coroutine '%U' was never awaited",
                         c->func->qualname) < 0)
      PyErr_WriteUnraisable(self);
  } else if (c->state == CoroState::suspended) {
    if (coro_close_impl(c) < 0) PyErr_WriteUnraisable(self);
  }
  if (saved) compat::raise_exception(saved);
}

static int coro_traverse(PyObject* self, visitproc visit, void* arg) {
  CoroObject* c = as_coro(self);
  Py_VISIT(Py_TYPE(self));
  Py_VISIT(reinterpret_cast<PyObject*>(c->func));
  Py_VISIT(c->await_iter);
  Py_VISIT(c->yielded);
  for (Py_ssize_t i = 0; i < nargs(c); ++i) Py_VISIT(c->args[i]);
  return coro_traverse_held(c, visit, arg);
}

static int coro_clear(PyObject* self) {
  CoroObject* c = as_coro(self);
  if (c->state == CoroState::suspended) {
    c->state = CoroState::running;
    Py_CLEAR(c->await_iter);
    coro_drop_frame(c);
  }
  c->state = CoroState::done;
  Py_CLEAR(c->await_iter);
  Py_CLEAR(c->yielded);
  for (Py_ssize_t i = 0; i < nargs(c); ++i) Py_CLEAR(c->args[i]);
  return 0;
}

static void coro_dealloc(PyObject* self) {
  CoroObject* c = as_coro(self);
  if (compat::finalize_from_dealloc(self, coro_finalize) < 0) return;  // resurrected
  PyObject_GC_UnTrack(self);
  if (c->weakrefs) PyObject_ClearWeakRefs(self);
  if (c->root) coro_drop_frame(c);
  Py_CLEAR(c->await_iter);
  Py_CLEAR(c->yielded);
  for (Py_ssize_t i = 0; i < nargs(c); ++i) Py_CLEAR(c->args[i]);
  Py_CLEAR(c->func);
  PyTypeObject* tp = Py_TYPE(self);
  compat::free_object(self);
  Py_DECREF(tp);
}

static PyObject* coro_repr(PyObject* self) {
  return PyUnicode_FromFormat("<coroutine object %U at %p>", as_coro(self)->func->qualname, self);
}

static PyObject* get_name(PyObject* self, void*) { return Py_NewRef(as_coro(self)->func->name); }
static PyObject* get_qualname(PyObject* self, void*) {
  return Py_NewRef(as_coro(self)->func->qualname);
}
static PyObject* get_cr_await(PyObject* self, void*) {
  PyObject* it = as_coro(self)->await_iter;
  return Py_NewRef(it ? it : Py_None);
}
static PyObject* get_cr_running(PyObject* self, void*) {
  return PyBool_FromLong(as_coro(self)->state == CoroState::running);
}
static PyObject* get_cr_suspended(PyObject* self, void*) {
  return PyBool_FromLong(as_coro(self)->state == CoroState::suspended);
}
static PyObject* get_cr_code(PyObject* self, void*) { return Py_NewRef(as_coro(self)->func->code); }
static PyObject* get_none(PyObject*, void*) { Py_RETURN_NONE; }

static PyMethodDef coro_methods[] = {
    {"send", coro_send, METH_O, "send(arg) -> send 'arg' into coroutine,\nreturn next iterated value or raise StopIteration."},
    {"throw", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(coro_throw)), METH_FASTCALL,
     "throw(value)\nthrow(type[,value[,traceback]])\n\nRaise exception in coroutine, return next iterated value or raise StopIteration."},
    {"close", coro_close, METH_NOARGS, "close() -> raise GeneratorExit inside coroutine."},
    {nullptr, nullptr, 0, nullptr}};

static PyGetSetDef coro_getset[] = {
    {"__name__", get_name, nullptr, nullptr, nullptr},
    {"__qualname__", get_qualname, nullptr, nullptr, nullptr},
    {"cr_await", get_cr_await, nullptr, "object being awaited on, or None", nullptr},
    {"cr_running", get_cr_running, nullptr, nullptr, nullptr},
    {"cr_suspended", get_cr_suspended, nullptr, nullptr, nullptr},
    {"cr_code", get_cr_code, nullptr, nullptr, nullptr},
    {"cr_frame", get_none, nullptr, nullptr, nullptr},
    {"cr_origin", get_none, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr}};

static PyMemberDef coro_members[] = {
    {"__weaklistoffset__", T_PYSSIZET, offsetof(CoroObject, weakrefs), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr}};

static PyType_Slot coro_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(coro_dealloc)},
    {Py_tp_finalize, reinterpret_cast<void*>(coro_finalize)},
    {Py_tp_traverse, reinterpret_cast<void*>(coro_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(coro_clear)},
    {Py_tp_repr, reinterpret_cast<void*>(coro_repr)},
    {Py_tp_iter, reinterpret_cast<void*>(PyObject_SelfIter)},
    {Py_tp_iternext, reinterpret_cast<void*>(coro_iternext)},
    {Py_tp_methods, coro_methods},
    {Py_tp_getset, coro_getset},
    {Py_tp_members, coro_members},
    {Py_am_await, reinterpret_cast<void*>(coro_await)},
    {Py_am_send, reinterpret_cast<void*>(coro_am_send)},
    {0, nullptr}};

static PyType_Spec coro_spec = {
    "ziveviver.coroutine", static_cast<int>(offsetof(CoroObject, args)), sizeof(PyObject*),
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_DISALLOW_INSTANTIATION, coro_slots};

PyObject* coro_new(FuncObject* f, PyObject* const* bound) {
  Py_ssize_t n = f->nparams;
  CoroObject* c = PyObject_GC_NewVar(CoroObject, g_coro_type, n);
  if (!c) return nullptr;
  c->func = reinterpret_cast<FuncObject*>(Py_NewRef(reinterpret_cast<PyObject*>(f)));
  c->await_iter = nullptr;
  c->yielded = nullptr;
  c->weakrefs = nullptr;
  c->pending = nullptr;
  new (&c->root) std::coroutine_handle<TaskPromise<Ref>>();
  new (&c->leaf) std::coroutine_handle<>();
  c->held = nullptr;
  c->state = CoroState::created;
  for (Py_ssize_t i = 0; i < n; ++i) c->args[i] = Py_NewRef(bound[i]);
  PyObject_GC_Track(c);
  return reinterpret_cast<PyObject*>(c);
}

bool init_coro_type() noexcept {
  if (g_coro_type) return true;
  if (!compat::init()) return false;
  PyObject* t = PyType_FromSpec(&coro_spec);
  if (!t) return false;
  g_coro_type = reinterpret_cast<PyTypeObject*>(t);
  // asyncio accepts it as a coroutine (create_task, gather, run, wait_for, TaskGroup).
  PyObject* abc = PyImport_ImportModule("collections.abc");
  if (!abc) return false;
  PyObject* coroutine_abc = PyObject_GetAttrString(abc, "Coroutine");
  Py_DECREF(abc);
  if (!coroutine_abc) return false;
  PyObject* r = PyObject_CallMethod(coroutine_abc, "register", "O", t);
  Py_DECREF(coroutine_abc);
  if (!r) return false;
  Py_DECREF(r);
  return true;
}

}  // namespace zv
