// Owning references to Python objects and the two C++ exception kinds that carry Python
// exceptions through C++ frames.
#pragma once
#include "pyasync/compat.hpp"

#include <exception>
#include <source_location>
#include <utility>

namespace zv {

// An owning reference (RAII). The GIL is held wherever these live.
class Ref {
 public:
  Ref() noexcept = default;
  static Ref steal(PyObject* p) noexcept { return Ref(p); }
  static Ref borrow(PyObject* p) noexcept { Py_XINCREF(p); return Ref(p); }
  Ref(const Ref& o) noexcept : p_(o.p_) { Py_XINCREF(p_); }
  Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  Ref& operator=(Ref o) noexcept { std::swap(p_, o.p_); return *this; }
  ~Ref() { Py_XDECREF(p_); }
  PyObject* get() const noexcept { return p_; }
  PyObject* release() noexcept { return std::exchange(p_, nullptr); }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  void reset() noexcept { Py_CLEAR(p_); }

 private:
  explicit Ref(PyObject* p) noexcept : p_(p) {}
  PyObject* p_ = nullptr;
};

// A Python exception of the `Exception` family travelling through C++. Ordinary guards
// catch this type (it is a std::exception).
class PyError : public std::exception {
 public:
  explicit PyError(PyObject* exc) noexcept : exc_(exc) {}  // steals
  PyError(const PyError& o) noexcept : exc_(o.exc_) { Py_XINCREF(exc_); }
  PyError& operator=(const PyError&) = delete;
  ~PyError() override { Py_XDECREF(exc_); }
  PyObject* get() const noexcept { return exc_; }
  Ref take() noexcept { return Ref::steal(std::exchange(exc_, nullptr)); }
  const char* what() const noexcept override { return "Python exception"; }

 private:
  PyObject* exc_;
};

// Any other Python exception (CancelledError, SystemExit, KeyboardInterrupt,
// GeneratorExit). Deliberately not a std::exception and not a PyError: only the bridge's
// own catch-all at the coroutine boundary takes it, so no ordinary guard swallows it.
class PyAbort {
 public:
  explicit PyAbort(PyObject* exc) noexcept : exc_(exc) {}  // steals
  PyAbort(const PyAbort& o) noexcept : exc_(o.exc_) { Py_XINCREF(exc_); }
  PyAbort& operator=(const PyAbort&) = delete;
  ~PyAbort() { Py_XDECREF(exc_); }
  PyObject* get() const noexcept { return exc_; }
  Ref take() noexcept { return Ref::steal(std::exchange(exc_, nullptr)); }

 private:
  PyObject* exc_;
};

// True when the exception is "ordinary" (an instance of Exception).
inline bool is_ordinary(PyObject* exc) noexcept {
  return PyObject_TypeCheck(exc, reinterpret_cast<PyTypeObject*>(PyExc_Exception));
}

// Throws the given exception (reference stolen) as the C++ kind its family calls for.
[[noreturn]] inline void throw_exception(PyObject* exc) {
  if (is_ordinary(exc)) throw PyError(exc);
  throw PyAbort(exc);
}

// Remembers where C++ code raised `exc` (compared by address, no reference kept), for the
// traceback entry of the coroutine that raised it (trace.cpp).
void note_raise(PyObject* exc, std::source_location where) noexcept;

// Throws the exception that is set in the interpreter, raised at `where`.
[[noreturn]] inline void throw_current(std::source_location where = std::source_location::current()) {
  PyObject* exc = compat::fetch_exception();
  if (!exc) {
    PyErr_SetString(PyExc_SystemError, "error return without exception set");
    exc = compat::fetch_exception();
  }
  note_raise(exc, where);
  throw_exception(exc);
}

// Checks a new reference from the C API; throws the pending Python error on nullptr.
inline Ref check(PyObject* p, std::source_location where = std::source_location::current()) {
  if (!p) throw_current(where);
  return Ref::steal(p);
}
inline int check(int rc, std::source_location where = std::source_location::current()) {
  if (rc < 0) throw_current(where);
  return rc;
}

// Sets the interpreter's error indicator from a C++ exception in flight (call inside a
// catch block or with an exception_ptr).
void set_error_from(std::exception_ptr e) noexcept;

// Gives `exc` the traceback entry of the coroutine running now, unless it has it already:
// a C++ handler is about to show the error (trace.cpp).
void trace_handled(PyObject* exc) noexcept;

// While alive, makes `exc` the interpreter's handled exception, as inside a Python
// `except` block, so logging with exc_info=True and traceback.format_exc() see it, with
// the entry of the coroutine handling it on top, as a Python frame's.
// Never keep one alive across a co_await.
class Handling {
 public:
  explicit Handling(PyObject* exc) noexcept : prev_(PyErr_GetHandledException()) {
    trace_handled(exc);
    PyErr_SetHandledException(exc);
  }
  ~Handling() {
    PyErr_SetHandledException(prev_);
    Py_XDECREF(prev_);
  }
  Handling(const Handling&) = delete;
  Handling& operator=(const Handling&) = delete;

 private:
  PyObject* prev_;
};

}  // namespace zv
