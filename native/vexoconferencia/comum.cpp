// What the check and the receipt share: the section keys, the widget kinds as the field
// dispatch and the grids see them, text helpers and the rows they hand back.
#include "conferencia.hpp"

namespace zv::vc::cf {

Names* C = nullptr;

bool ascii_eq(PyObject* obj, const char* s) {
  return PyUnicode_Check(obj) && PyUnicode_CompareWithASCIIString(obj, s) == 0;
}

bool is_section_key(PyObject* key) {
  for (const char* s : kSectionKeys)
    if (ascii_eq(key, s)) return true;
  return false;
}

namespace {

struct KindName {
  const char* name;
  Kind kind;
};

// The dispatch's names; "date" and "datepicker" both reach the date picker fill.
constexpr KindName kDispatch[] = {
    {"text", Kind::text},           {"textarea", Kind::textarea},
    {"dropdownlist", Kind::dropdownlist}, {"radio", Kind::radio},
    {"checkboxmultiple", Kind::checkboxmultiple}, {"popuplovid", Kind::popuplovid},
    {"date", Kind::date},           {"datepicker", Kind::date},
    {"multiselect", Kind::multiselect}, {"autocomplete", Kind::autocomplete},
    {"switch", Kind::toggle_switch}, {"checkbox", Kind::single_checkbox},
};

// The kinds a grid cell takes, compared exactly.
constexpr KindName kGrid[] = {
    {"text", Kind::text},
    {"datepicker", Kind::date},
    {"dropdownlist", Kind::dropdownlist},
    {"checkboxmultiple", Kind::checkboxmultiple},
    {"popuplovid", Kind::popuplovid},
    {"switch", Kind::toggle_switch},
    {"checkbox", Kind::single_checkbox},
};

Kind lookup(PyObject* name, const KindName* table, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i)
    if (ascii_eq(name, table[i].name)) return table[i].kind;
  return Kind::none;
}

}  // namespace

Kind dispatch_kind(PyObject* colTipo) {
  if (!colTipo || !PyUnicode_Check(colTipo)) return Kind::none;
  Ref lowered = call_method(colTipo, N->lower.get());
  return lookup(lowered.get(), kDispatch, std::size(kDispatch));
}

Kind grid_kind(PyObject* colTipo) {
  if (!colTipo || !PyUnicode_Check(colTipo)) return Kind::none;
  return lookup(colTipo, kGrid, std::size(kGrid));
}

bool is_text_kind(Kind k) { return k == Kind::text || k == Kind::textarea || k == Kind::autocomplete; }
bool is_toggle_kind(Kind k) { return k == Kind::toggle_switch || k == Kind::single_checkbox; }

const char* kind_name(Kind k) {
  switch (k) {
    case Kind::text: return "text";
    case Kind::textarea: return "textarea";
    case Kind::autocomplete: return "autocomplete";
    case Kind::dropdownlist: return "dropdownlist";
    case Kind::radio: return "radio";
    case Kind::checkboxmultiple: return "checkboxmultiple";
    case Kind::popuplovid: return "popuplovid";
    case Kind::date: return "datepicker";
    case Kind::multiselect: return "multiselect";
    case Kind::toggle_switch: return "switch";
    case Kind::single_checkbox: return "checkbox";
    case Kind::none: break;
  }
  return "";
}

std::string utf8(PyObject* o) {
  Ref s = str(o);
  Py_ssize_t n = 0;
  const char* p = PyUnicode_AsUTF8AndSize(s.get(), &n);
  if (!p) throw_current();
  return std::string(p, static_cast<std::size_t>(n));
}

std::string repr8(PyObject* o) {
  Ref s = repr(o);
  Py_ssize_t n = 0;
  const char* p = PyUnicode_AsUTF8AndSize(s.get(), &n);
  if (!p) throw_current();
  return std::string(p, static_cast<std::size_t>(n));
}

Ref item_id_of(PyObject* sel) {
  Ref s = str(sel);
  Ref bare = remove_all(s.get(), "#");
  return call_method(bare.get(), N->strip.get());
}

Ref dict_get(PyObject* dict, PyObject* key) {
  if (!PyDict_Check(dict)) return Ref();
  PyObject* v = PyDict_GetItemWithError(dict, key);
  if (!v && PyErr_Occurred()) throw_current();
  return Ref::borrow(v);
}

Ref dict_get(PyObject* dict, const char* key) {
  Ref k = text(key);
  return dict_get(dict, k.get());
}

bool lov_blank(PyObject* v) {
  if (v == Py_None) return true;
  static constexpr const char* kInvalid[] = {"", "0", "0.0", "None", "null", "false", "undefined"};
  Ref t = trimmed_text(v);
  for (const char* s : kInvalid)
    if (ascii_eq(t.get(), s)) return true;
  // float(v) == 0, as the fill's screening computes it; a value that is no number passes.
  PyObject* f = PyNumber_Float(v);
  if (!f) {
    if (PyErr_ExceptionMatches(PyExc_ValueError) || PyErr_ExceptionMatches(PyExc_TypeError)) {
      PyErr_Clear();
      return false;
    }
    throw_current();
  }
  Ref fr = Ref::steal(f);
  return PyFloat_AsDouble(fr.get()) == 0.0;
}

bool value_blank(PyObject* v) {
  if (v == Py_None) return true;
  if (PyList_Check(v) || PyTuple_Check(v)) return PySequence_Size(v) == 0;
  return is_blank(v);
}

Ref fact(PyObject* facts, const char* key) {
  Ref v = dict_get(facts, key);
  return v ? v : none();
}
bool fact_true(PyObject* facts, const char* key) { return truthy(fact(facts, key).get()); }
long long fact_int(PyObject* facts, const char* key) {
  Ref v = fact(facts, key);
  if (!PyLong_Check(v.get()) && !PyFloat_Check(v.get())) return 0;
  return PyLong_Check(v.get()) ? PyLong_AsLongLong(v.get()) : static_cast<long long>(PyFloat_AsDouble(v.get()));
}
std::string fact_text(PyObject* facts, const char* key) {
  Ref v = fact(facts, key);
  return v.get() == Py_None ? std::string() : utf8(v.get());
}

Row::Row() : dict_(check(PyDict_New())) {}

void Row::put(const char* key, Ref value) {
  if (!value) value = none();
  check(PyDict_SetItemString(dict_.get(), key, value.get()));
}
void Row::put(const char* key, const char* t) { put(key, text(t)); }
void Row::put(const char* key, const std::string& t) { put(key, text(t)); }
void Row::put_none(const char* key) { put(key, none()); }

void log_level(int level, const Ref& msg) {
  if (!debug_on()) return;
  if (level >= 2) log_error(msg);
  else if (level == 1) log_warning(msg);
  else log_info(msg);
}

}  // namespace zv::vc::cf
