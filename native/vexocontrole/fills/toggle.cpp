// Switches and single check boxes (APEX's yes/no item and its single check box): one check box
// input #ITEM whose on value is its `value` and whose off value is its data-off-value (switch)
// or data-unchecked-value (check box). The data says on or off as true/false, 1/0, S/N or
// Sim/Não, or gives one of the item's own two values; anything else stops the fill with an
// error naming the field, before the page is changed (before any page operation when the
// value cannot be an on/off value at all). The item is checked as a select list is
// (present, visible, enabled), then set through APEX in one page script.
#include "bodies.hpp"
#include "fills/on_off.hpp"
#include "fills/usable_item.hpp"
#include "page.hpp"

#include <string_view>

namespace zv::vc {

namespace {

struct Toggle {
  const char* fill;      // the fill's name, in front of its lines
  const char* missing;   // item not found
  const char* disabled;  // item disabled
  const char* done;      // value set
  const char* failure;   // an ordinary error of the attempt
  const char* not_applied;
};

constexpr Toggle kSwitch = {"fCtPreencSwitch", "fCtPreencSwitch -> Switch nao encontrado: ",
                            "fCtPreencSwitch -> Switch desabilitado: ", "fCtPreencSwitch -> Switch preenchido: ",
                            "fCtPreencSwitch -> Falha ao preencher switch ",
                            "fCtPreencSwitch -> Valor nao aplicado (APEX): "};
constexpr Toggle kCheckbox = {"fCtPreencCheckbox", "fCtPreencCheckbox -> Checkbox nao encontrado: ",
                              "fCtPreencCheckbox -> Checkbox desabilitado: ",
                              "fCtPreencCheckbox -> Checkbox preenchido: ",
                              "fCtPreencCheckbox -> Falha ao preencher checkbox ",
                              "fCtPreencCheckbox -> Valor nao aplicado (APEX): "};

[[noreturn]] void invalid(const Toggle& t, PyObject* sel, PyObject* value, const Ref& own) {
  raise_new(PyExc_ValueError, message(t.fill, " -> Valor invalido para o campo ", sel, ": ", repr_of(value),
                                      " (use true/false, 1/0, S/N, Sim/Não", own, ")"));
}

// True / false for the data's on and off words; None for a text that may be one of the
// item's own values. Anything else raises before the page is touched.
Ref on_off(const Toggle& t, PyObject* sel, PyObject* v) {
  switch (on_off_of(v)) {
    case OnOff::on: return Ref::borrow(Py_True);
    case OnOff::off: return Ref::borrow(Py_False);
    case OnOff::own: return none();
    case OnOff::invalid: break;
  }
  invalid(t, sel, v, text(""));
}

bool is_state(PyObject* result, const char* what) {
  if (!result || !PyDict_Check(result)) return false;
  PyObject* e = PyDict_GetItemString(result, "estado");  // borrowed
  return e && PyUnicode_Check(e) && PyUnicode_CompareWithASCIIString(e, what) == 0;
}

// The attempt; closure: (page, selector, item id, on, value text, timeout, locator).
Task<Ref> toggle_attempt(const Toggle& t, Call c) {
  PyObject* page = c.cap(0);
  PyObject* sel = c.cap(1);
  PyObject* item_id = c.cap(2);
  PyObject* on = c.cap(3);
  PyObject* val = c.cap(4);
  PyObject* timeout = c.cap(5);
  PyObject* locator = c.cap(6);
  try {
    Ref first = co_await usable_item(page, sel, locator, timeout, t.missing, t.disabled);
    if (!first) co_return none();
    co_await pg::scroll_into_view(first.get());
    Ref result = co_await pg::evaluate(page, ZV_SCRIPT(toggle_set), pg::list(item_id, on, val).get());
    if (is_state(result.get(), "invalido")) co_return result;  // the caller raises
    if (debug_on()) {
      if (is_state(result.get(), "ok"))
        log_info(message(t.done, sel));
      else
        log_error(message(t.not_applied, sel, " | valor: ", val));
    }
  } catch (PyError& e) {
    if (debug_on()) log_error(message(t.failure, sel, ": ", e.get()));
  }
  co_return none();
}

Task<Ref> switch_attempt(Call c) { return toggle_attempt(kSwitch, c); }
Task<Ref> checkbox_attempt(Call c) { return toggle_attempt(kCheckbox, c); }

const FuncSpec kSwitchAttempt = {"action", "fCtPreencSwitch.<locals>.action", "", nullptr, switch_attempt,
                                 nullptr, nullptr};
const FuncSpec kCheckboxAttempt = {"action", "fCtPreencCheckbox.<locals>.action", "", nullptr, checkbox_attempt,
                                   nullptr, nullptr};

Task<Ref> fill_toggle(const Toggle& t, const FuncSpec* spec, Call c) {
  PyObject* pPage = c.arg(0);
  PyObject* pWebSel = c.arg(1);
  PyObject* pDbCampoValue = c.arg(2);
  PyObject* pTimeout = c.arg(3);
  if (is_blank(pDbCampoValue)) co_return none();
  Ref on = on_off(t, pWebSel, pDbCampoValue);
  Ref val = trimmed_text(pDbCampoValue);
  Ref item_id = remove_all(pWebSel, "#");
  Ref locator = pg::locator(pPage, pWebSel);
  Ref action = make_attempt(spec, pPage, pWebSel, item_id.get(), on.get(), val.get(), pTimeout, locator.get());
  Ref result = co_await retry(action);
  if (is_state(result.get(), "invalido")) {
    PyObject* ligado = PyDict_GetItemString(result.get(), "ligado");
    PyObject* desligado = PyDict_GetItemString(result.get(), "desligado");
    invalid(t, pWebSel, pDbCampoValue,
            message(" ou os valores do item, ", repr_of(ligado ? ligado : Py_None), "/",
                    repr_of(desligado ? desligado : Py_None)));
  }
  co_return none();
}

}  // namespace

Task<Ref> fCtPreencSwitch(Call c) { return fill_toggle(kSwitch, &kSwitchAttempt, c); }
Task<Ref> fCtPreencCheckbox(Call c) { return fill_toggle(kCheckbox, &kCheckboxAttempt, c); }

}  // namespace zv::vc
