// Module vexoconferencia: the pre-flight check of a mapping against the page, the receipt of
// what a fill left in the page, and the guard that holds back page submissions while a fill
// runs.
//
// The module compiles the controller module's state and page helpers (state.hpp, page.hpp)
// into itself and points them at ziveviver.vexocontrole's globals when it is loaded: the
// debug flag and the logger are that module's gDebugDev and objfLog, read at each use, so the
// last controller construction decides this module's logging as it does the fills'.
#pragma once
#include "conferencia_scripts.hpp"
#include "page.hpp"
#include "state.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace zv::vc::cf {

// Names and objects of this module, made once when it is executed.
struct Names {
  Ref modname;  // this module's __name__
  // Playwright's route and request members
  Ref route, unroute, abort, fallback, method, url, is_navigation_request, post_data_json,
      is_closed;
  Ref pattern_all;  // "**/*"
  Ref aborted;      // the error code a held request is aborted with
  Ref registry;     // weakref.WeakKeyDictionary: page -> (handler, held list)
  PyObject* handler_proto = nullptr;  // the route handler, copied with a closure per guard
};
extern Names* C;

// A page script embedded from native/vexoconferencia/scripts/<name>.js.
#define ZC_SCRIPT(name) \
  ([]() -> PyObject* { static PyObject* zc_j = ::zv::vc::intern_script(::zv::cf::scripts::name); return zc_j; }())

// --- shared by the check and the receipt (comum.cpp) ---

// The sections of a mapping, in the order the whole-form fill takes them.
inline constexpr const char* kSectionKeys[] = {"Representantes", "Titulares", "Beneficiarios"};
// "Formulario" for the simple fields; otherwise the section key.
inline constexpr const char kFormSection[] = "Formulario";

// `obj == s` for an ASCII literal; false for anything that is not a str (a str subclass's
// lower() or strip() may hand back any object).
bool ascii_eq(PyObject* obj, const char* s);
bool is_section_key(PyObject* key);

// The widget kinds the field dispatch accepts, by their lower-case names.
enum class Kind { text, textarea, autocomplete, dropdownlist, radio, checkboxmultiple, popuplovid,
                  date, multiselect, toggle_switch, single_checkbox, none };
// The kind a field dispatch gives "ColTipo" (lower-cased); Kind::none when it rejects it.
Kind dispatch_kind(PyObject* colTipo);
// The kind a grid cell gives "ColTipo" (compared exactly); Kind::none otherwise.
Kind grid_kind(PyObject* colTipo);
bool is_text_kind(Kind k);
// A switch or a single check box: one check box input with its own on and off values.
bool is_toggle_kind(Kind k);
const char* kind_name(Kind k);

// str(o) as UTF-8.
std::string utf8(PyObject* o);
// repr(o) as UTF-8.
std::string repr8(PyObject* o);
// The APEX item id a selector names: its text with every "#" removed, trimmed.
Ref item_id_of(PyObject* sel);
// mapping.get(key) for a dict, nullptr when absent (borrowed -> new reference).
Ref dict_get(PyObject* dict, const char* key);
Ref dict_get(PyObject* dict, PyObject* key);
// A value the popup LOV fill skips: None, a blank or placeholder text, or a number equal to 0.
bool lov_blank(PyObject* v);
// A value the fills skip: None, or blank once in text form (for lists: empty).
bool value_blank(PyObject* v);

// Reading the facts a page script returns (a dict): the value (None when absent), its
// truth, as a whole number (0 unless a number), as text ("" for None).
Ref fact(PyObject* facts, const char* key);
bool fact_true(PyObject* facts, const char* key);
long long fact_int(PyObject* facts, const char* key);
std::string fact_text(PyObject* facts, const char* key);

// An ordered dict built from (key, value) pairs; values are stolen Refs.
class Row {
 public:
  Row();
  void put(const char* key, Ref value);
  void put(const char* key, const char* text);
  void put(const char* key, const std::string& text);
  void put_none(const char* key);
  PyObject* get() const noexcept { return dict_.get(); }

 private:
  Ref dict_;
};

// Logs `msg` at info (0), warning (1) or error (2) level while gDebugDev is true.
void log_level(int level, const Ref& msg);

// --- dates (datas.cpp) ---

struct DateCheck {
  bool ok;
  std::string reason;  // why the text does not fit, in Portuguese
};
// Does `text` read as a date in the APEX format mask `format` (DD/MM/YYYY, DD-MON-YYYY,
// YYYY-MM-DD HH24:MI, ...)? Checks the layout and that the day, month and time exist.
DateCheck check_date_text(std::string_view format, std::string_view text);

// --- the guard's decision (guarda.cpp) ---

// A request that would submit the page: a navigation made with POST (a form submission,
// whatever its action), or a POST to APEX's page-submit endpoint (wwv_flow.accept, or
// .../accept under friendly URLs) made by ajax.
bool is_submission(std::string_view method, bool navigation, std::string_view url);

// --- bodies ---
Task<Ref> fCtVerificarMapa(Call c);
Task<Ref> fCtMapearPagina(Call c);
Task<Ref> fCtConferirForm(Call c);
Task<Ref> fCtAtivarGuarda(Call c);
Task<Ref> fCtDesativarGuarda(Call c);
Task<Ref> guard_handler(Call c);

}  // namespace zv::vc::cf
