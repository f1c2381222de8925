// C++20 coroutines that await Python awaitables.
//
// A `Task<T>` is a lazily started C++ coroutine. Inside one, `co_await ref` (a `Ref` to any
// Python awaitable) drives the awaitable's iterator the way `yield from` does: what it yields
// travels out to the event loop through the Python coroutine object at the root of the
// chain (coro.hpp), and its return value (or exception) comes back at the `co_await`.
// `co_await task` runs a child task in place; when the child finishes without suspending,
// the parent goes on without suspending either.
#pragma once
#include "pyasync/ref.hpp"

#include <cassert>
#include <coroutine>
#include <cstddef>
#include <exception>
#include <optional>
#include <source_location>
#include <type_traits>
#include <utility>

namespace zv {

struct CoroObject;  // the Python coroutine object driving a chain (coro.hpp)
struct PyAwait;

// The coroutine object whose C++ chain is being resumed right now (GIL-protected).
extern CoroObject* g_driving;

// Suspension bookkeeping the driver reads; implemented in coro.cpp.
void driver_suspend(PyAwait* awaiter, PyObject* iter, PyObject* yielded) noexcept;
void driver_set_leaf(std::coroutine_handle<> h) noexcept;

// Traceback entries (trace.cpp), on the paths that carry an error only: an error from a
// Python awaitable surfacing at a co_await of the chain being driven, and a child task's
// error rethrown at its co_await in the parent. The position goes by value (one pointer, in
// a register): by reference, each co_await would store it on the stack before knowing
// whether there is an error.
void trace_surfaced(PyObject* exc, std::source_location where) noexcept;
[[noreturn]] void rethrow_traced(std::exception_ptr e, std::source_location where);

// Frames are allocated from a small free list: fills create and drop many short frames.
void* frame_alloc(std::size_t n);
void frame_free(void* p, std::size_t n) noexcept;

struct PromiseBase {
  std::coroutine_handle<> continuation;
  bool started_inline = false;
  std::exception_ptr error;

  static void* operator new(std::size_t n) { return frame_alloc(n); }
  static void operator delete(void* p, std::size_t n) noexcept { frame_free(p, n); }

  std::suspend_always initial_suspend() noexcept { return {}; }
  struct FinalAwaiter {
    bool await_ready() noexcept { return false; }
    template <class P>
    std::coroutine_handle<> await_suspend(std::coroutine_handle<P> h) noexcept {
      PromiseBase& p = h.promise();
      // A child started in place hands control back to the parent's await_suspend,
      // which sees it done; otherwise resume the parent (or return to the driver).
      if (p.started_inline || !p.continuation) return std::noop_coroutine();
      return p.continuation;
    }
    void await_resume() noexcept {}
  };
  FinalAwaiter final_suspend() noexcept { return {}; }
  void unhandled_exception() noexcept { error = std::current_exception(); }
};

// Awaits one Python awaitable. Created by `co_await ref` inside a Task.
struct PyAwait {
  Ref awaitable;
  Ref result;
  Ref error;

  explicit PyAwait(Ref a) noexcept : awaitable(std::move(a)) {}
  bool await_ready();
  void await_suspend(std::coroutine_handle<> h) noexcept { driver_set_leaf(h); }
  Ref await_resume(std::source_location where = std::source_location::current()) {
    if (error) {
      trace_surfaced(error.get(), where);
      throw_exception(error.release());
    }
    return std::move(result);
  }
};

template <class T>
class [[nodiscard]] Task;

template <class T>
struct TaskPromise : PromiseBase {
  std::optional<T> value;
  Task<T> get_return_object() noexcept;
  template <class U>
  void return_value(U&& v) { value.emplace(std::forward<U>(v)); }
  PyAwait await_transform(Ref&& r) noexcept { return PyAwait(std::move(r)); }
  template <class A>
  A&& await_transform(A&& a) noexcept { return std::forward<A>(a); }
};

template <>
struct TaskPromise<void> : PromiseBase {
  Task<void> get_return_object() noexcept;
  void return_void() noexcept {}
  PyAwait await_transform(Ref&& r) noexcept { return PyAwait(std::move(r)); }
  template <class A>
  A&& await_transform(A&& a) noexcept { return std::forward<A>(a); }
};

template <class T>
class [[nodiscard]] Task {
 public:
  using promise_type = TaskPromise<T>;
  using handle = std::coroutine_handle<promise_type>;

  Task() noexcept = default;
  explicit Task(handle h) noexcept : h_(h) {}
  Task(Task&& o) noexcept : h_(std::exchange(o.h_, {})) {}
  Task& operator=(Task&& o) noexcept {
    if (this != &o) { reset(); h_ = std::exchange(o.h_, {}); }
    return *this;
  }
  ~Task() { reset(); }
  void reset() noexcept { if (h_) std::exchange(h_, {}).destroy(); }
  handle get() const noexcept { return h_; }
  handle release() noexcept { return std::exchange(h_, {}); }

  // Awaited from another Task: start the child here, in place.
  bool await_ready() const noexcept { return false; }
  bool await_suspend(std::coroutine_handle<> parent) {
    promise_type& p = h_.promise();
    p.continuation = parent;
    p.started_inline = true;
    h_.resume();
    p.started_inline = false;
    return !h_.done();
  }
  T await_resume(std::source_location where = std::source_location::current()) {
    assert(h_ && h_.done());
    promise_type& p = h_.promise();
    if (p.error) rethrow_traced(std::exchange(p.error, nullptr), where);
    if constexpr (!std::is_void_v<T>) return std::move(*p.value);
  }

 private:
  handle h_;
};

template <class T>
Task<T> TaskPromise<T>::get_return_object() noexcept {
  return Task<T>(std::coroutine_handle<TaskPromise<T>>::from_promise(*this));
}
inline Task<void> TaskPromise<void>::get_return_object() noexcept {
  return Task<void>(std::coroutine_handle<TaskPromise<void>>::from_promise(*this));
}

// Keeps an exception alive across a suspension where the garbage collector can see it
// (the driving coroutine object's traverse walks these). Use it to save an error in a
// catch block and deal with it after leaving the handler, where co_await is allowed.
class Held {
 public:
  Held() noexcept;
  explicit Held(Ref r) noexcept;
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;
  ~Held();
  PyObject* get() const noexcept { return obj_; }
  explicit operator bool() const noexcept { return obj_ != nullptr; }
  void set(Ref r) noexcept;
  Ref take() noexcept;
  // Rethrows the held exception as its C++ kind.
  [[noreturn]] void rethrow();

 private:
  friend struct CoroObject;
  friend int coro_traverse_held(CoroObject*, visitproc, void*);
  PyObject* obj_ = nullptr;
  CoroObject* owner_ = nullptr;
  Held* prev_ = nullptr;
  Held* next_ = nullptr;
};

}  // namespace zv
