#include "events.hpp"

#include <chrono>

namespace zv::vc::ev {

namespace {

// ziveviver.eventos's context variable and warning category, looked up on first use. When
// that module cannot be imported the events are off: nobody can observe.
struct Module {
  PyObject* var = nullptr;
  PyObject* warning = nullptr;
  PyObject* callback = nullptr;
  PyObject* active = nullptr;
  bool off = false;
};

Module& module() {
  static Module m;
  if (m.var || m.off) return m;
  Ref mod = Ref::steal(PyImport_ImportModule("ziveviver.eventos"));
  PyObject* var = mod ? PyObject_GetAttrString(mod.get(), "_observador") : nullptr;
  PyObject* warning = var ? PyObject_GetAttrString(mod.get(), "ObservadorFalhou") : nullptr;
  if (!warning) {
    Py_XDECREF(var);
    // Without the module (or a build of it without these names) nobody can observe; any
    // other failure is the caller's to see.
    if (!PyErr_ExceptionMatches(PyExc_ImportError) && !PyErr_ExceptionMatches(PyExc_AttributeError))
      throw_current();
    PyErr_Clear();
    m.off = true;
    return m;
  }
  m.callback = name("callback").release();
  m.active = name("ativo").release();
  m.warning = warning;
  m.var = var;
  return m;
}

// config[key], or None when the configuration has no such entry (or is no mapping at all):
// reading an event's fields never raises.
Ref lookup(PyObject* config, const char* key) {
  if (config) {
    PyObject* v = PyMapping_GetItemString(config, key);
    if (v) return Ref::steal(v);
    PyErr_Clear();
  }
  return none();
}

// "Type: text" of an exception, or just "Type" when its text is empty.
Ref error_text(PyObject* exc) {
  compat::TypeName type(exc);
  PyObject* s = PyObject_Str(exc);
  if (!s) {
    PyErr_Clear();
    return text(type.c_str());
  }
  Ref said = Ref::steal(s);
  if (PyUnicode_GET_LENGTH(said.get()) == 0) return text(type.c_str());
  return message(type.c_str(), ": ", said);
}

void set(PyObject* d, const char* key, PyObject* value) {
  check(PyDict_SetItemString(d, key, value ? value : Py_None));
}

}  // namespace

Ref observer() {
  Module& m = module();
  if (m.off) return {};
  PyObject* obs = compat::context_var_get(m.var);
  if (!obs) throw_current();
  Ref o = Ref::steal(obs);
  if (obs == Py_None) return {};
  if (!truthy(getattr(obs, m.active).get())) return {};
  return o;
}

double now_ms() {
  using namespace std::chrono;
  return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

Ref record_of(const char* kind, const Field* fields, std::size_t n) {
  Ref d = check(PyDict_New());
  Ref k = text(kind);
  set(d.get(), "evento", k.get());
  for (std::size_t i = 0; i < n; ++i) set(d.get(), fields[i].key, fields[i].value);
  return d;
}

void deliver(const Ref& obs, const Ref& record) {
  Module& m = module();
  Ref callback = getattr(obs.get(), m.callback);
  PyObject* r = PyObject_CallOneArg(callback.get(), record.get());
  if (r) {
    Py_DECREF(r);
    return;
  }
  PyObject* exc = compat::fetch_exception();
  if (!exc || !is_ordinary(exc)) throw_exception(exc);
  Ref failure = Ref::steal(exc);
  check(PyObject_SetAttr(obs.get(), m.active, Py_False));
  Ref said = message("o observador de eventos falhou (", error_text(failure.get()),
                     ") e foi desligado; o preenchimento continua");
  const char* utf8 = PyUnicode_AsUTF8(said.get());
  if (!utf8 || PyErr_WarnEx(m.warning, utf8, 1) < 0) PyErr_WriteUnraisable(callback.get());
}

void Span::open_with(const Ref& obs, const char* started, const char* ended_ok,
                     const char* ended_error, const Field* fields, std::size_t n) {
  Ref event = record_of(started, fields, n);
  record_ = check(PyDict_Copy(event.get()));
  ended_ok_ = ended_ok;
  ended_error_ = ended_error;
  started_ms_ = now_ms();
  deliver(obs, event);
}

void Span::close(PyObject* error, const char* outcome) {
  if (!record_) return;
  Ref event = std::move(record_);
  Ref obs = observer();
  if (!obs) return;
  Ref took = check(PyFloat_FromDouble(now_ms() - started_ms_));
  Ref kind = text(error ? ended_error_ : ended_ok_);
  Ref result = text(outcome ? outcome : error ? "erro" : "ok");
  Ref said = error ? error_text(error) : none();
  set(event.get(), "evento", kind.get());
  set(event.get(), "resultado", result.get());
  set(event.get(), "erro", said.get());
  set(event.get(), "duracao_ms", took.get());
  deliver(obs, event);
}

PyObject* section_form() { return ZV_STR("Formulario"); }
PyObject* section_representatives() { return ZV_STR("Representantes"); }

double pause_started() { return observer() ? now_ms() : -1.0; }

void pause_ended(double started_ms, const char* point, long long planned_ms, const char* pacing) {
  if (started_ms < 0) return;
  Ref obs = observer();
  if (!obs) return;
  Ref spent = check(PyFloat_FromDouble(now_ms() - started_ms));
  Ref name_ = text(point);
  Ref planned = integer(planned_ms);
  Ref how = text(pacing);
  emit(obs, "pausa", Field{"ponto", name_.get()}, Field{"planeado_ms", planned.get()},
       Field{"gasto_ms", spent.get()}, Field{"ritmo", how.get()});
}

Ref size_of(PyObject* records) {
  Py_ssize_t n = PyObject_Size(records);
  if (n < 0) {
    PyErr_Clear();
    return none();
  }
  return check(PyLong_FromSsize_t(n));
}

Span field(PyObject* section, PyObject* row, PyObject* column, PyObject* config) {
  Span s;
  Ref obs = observer();
  if (!obs) return s;
  Ref sel = lookup(config, "WebSel");
  Ref kind = lookup(config, "ColTipo");
  const Field f[] = {{"secao", section}, {"linha", row}, {"coluna", column}, {"seletor", sel.get()},
                     {"tipo", kind.get()}};
  s.open_with(obs, "campo_inicio", "campo_fim", "campo_fim", f, 5);
  return s;
}

}  // namespace zv::vc::ev
