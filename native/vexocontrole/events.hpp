// Fill events (ziveviver.eventos): the observer of the current context, read at each event
// as the module state is, and the records handed to it. With nobody observing, an event
// costs one read of the context variable and builds nothing.
#pragma once
#include "state.hpp"

#include <cstddef>

namespace zv::vc::ev {

// The observer of the current context, or an empty Ref when nobody observes (or the one
// that was there raised and was detached).
Ref observer();

// Milliseconds on a steady clock.
double now_ms();

// One key of an event record and its value (borrowed; nullptr stands for None).
struct Field {
  const char* key;
  PyObject* value;
};

// {"evento": kind, key: value, ...}
Ref record_of(const char* kind, const Field* fields, std::size_t n);

// Hands `record` to the observer. An observer that raises an ordinary error is detached and
// reported once through `warnings`; any other exception (KeyboardInterrupt, ...) goes on.
void deliver(const Ref& obs, const Ref& record);

// Hands `obs` (what observer() gave) the event {"evento": kind, fields...}. Callers read
// observer() first and build the fields' values only when somebody observes.
template <class... F>
void emit(const Ref& obs, const char* kind, F... fields) {
  const Field f[] = {fields...};
  deliver(obs, record_of(kind, f, sizeof...(F)));
}

// A timed stretch of a fill (a section, a field, a grid row): its started event when it
// opens, its ended event (the started record's fields plus "resultado", "erro" and
// "duracao_ms") when it closes. Opened while nobody observes, it stays silent to the end.
class Span {
 public:
  Span() noexcept = default;
  template <class... F>
  static Span open(const char* started, const char* ended_ok, const char* ended_error, F... fields) {
    Span s;
    Ref obs = observer();
    if (!obs) return s;
    const Field f[] = {fields...};
    s.open_with(obs, started, ended_ok, ended_error, f, sizeof...(F));
    return s;
  }
  explicit operator bool() const noexcept { return static_cast<bool>(record_); }
  // Ends the stretch: `error` is the exception it ended with (nullptr when it went well);
  // `outcome` overrides "ok"/"erro".
  void close(PyObject* error, const char* outcome = nullptr);

 private:
  friend Span field(PyObject* section, PyObject* row, PyObject* column, PyObject* config);
  void open_with(const Ref& obs, const char* started, const char* ended_ok, const char* ended_error,
                 const Field* fields, std::size_t n);
  Ref record_;
  const char* ended_ok_ = nullptr;
  const char* ended_error_ = nullptr;
  double started_ms_ = 0;
};

// The section names the events carry.
PyObject* section_form();            // "Formulario": the simple fields
PyObject* section_representatives(); // "Representantes"

// A pause: pause_started() before it (negative when nobody observes: then pause_ended()
// does nothing), pause_ended() after it, which tells the observer
// {"evento": "pausa", "ponto", "planeado_ms", "gasto_ms", "ritmo"}.
double pause_started();
void pause_ended(double started_ms, const char* point, long long planned_ms, const char* pacing);

// len(records), or None when it has no length (an observer's "total" never fails a fill).
Ref size_of(PyObject* records);

// A field's span: its column and configuration ("WebSel", "ColTipo" read without ever
// raising), in `section`, grid row `row` (nullptr outside the grids).
Span field(PyObject* section, PyObject* row, PyObject* column, PyObject* config);

}  // namespace zv::vc::ev

// Inside a coroutine body: awaits the step, then closes `span` with how the step ended (its
// exception, of whatever family, goes on its way unchanged afterwards).
#define ZV_AWAIT_WITHIN(span, ...)                          \
  do {                                                      \
    ::zv::Held zv_failure;                                  \
    try {                                                   \
      co_await (__VA_ARGS__);                               \
    } catch (::zv::PyError & zv_e) {                        \
      zv_failure.set(zv_e.take());                          \
    } catch (::zv::PyAbort & zv_e) {                        \
      zv_failure.set(zv_e.take());                          \
    }                                                       \
    (span).close(zv_failure.get());                         \
    if (zv_failure) zv_failure.rethrow();                   \
  } while (0)
