// Text, text area and autocomplete items: check the element (present, visible, enabled),
// then set the value with one page script that tells APEX and fires input/change/blur.
#include "bodies.hpp"
#include "fills/usable_item.hpp"
#include "page.hpp"

namespace zv::vc {

// The attempt; closure: (page, selector, value text, timeout, locator).
static Task<Ref> text_attempt(Call c) {
  PyObject* page = c.cap(0);
  PyObject* sel = c.cap(1);
  PyObject* valToSend = c.cap(2);
  PyObject* timeout = c.cap(3);
  PyObject* locator = c.cap(4);
  try {
    Ref first = co_await usable_item(page, sel, locator, timeout, "fCtPreencText -> Campo não encontrado: ",
                                     "fCtPreencText -> Campo desabilitado: ");
    if (!first) co_return none();
    co_await pg::scroll_into_view(first.get());
    Ref set = co_await pg::evaluate(page, ZV_SCRIPT(text_set), pg::list(sel, valToSend).get());
    if (!debug_on()) co_return none();
    // A Select One takes a typed text without a word and keeps it as an invalid value.
    if (set.get() == Py_False)
      log_error(message("fCtPreencText -> Valor invalido para a lista de selecao (use dropdownlist): ", sel,
                        " | valor: ", valToSend));
    else
      log_info(message("fCtPreencText -> Campo preenchido: ", sel));
  } catch (PyError& e) {
    if (debug_on()) log_error(message("fCtPreencText -> Falha ao preencher ", sel, ": ", e.get()));
  }
  co_return none();
}

static const FuncSpec kTextAttempt = {"action", "fCtPreencText.<locals>.action", "", nullptr,
                                      text_attempt, nullptr, nullptr};

Task<Ref> fCtPreencText(Call c) {
  PyObject* pPage = c.arg(0);
  PyObject* pWebSel = c.arg(1);
  PyObject* pDbCampoValue = c.arg(2);
  PyObject* pTimeout = c.arg(3);
  if (is_blank(pDbCampoValue)) co_return none();
#ifdef ZV_PLANTED_LEAK
  // Test-only builds (CMake's ZV_PLANTED_LEAK): each fill loses the object stored before it.
  static void* volatile planted;
  planted = ::operator new(32);
#endif
  Ref valToSend = str(pDbCampoValue);
  Ref locator = pg::locator(pPage, pWebSel);
  Ref action = make_attempt(&kTextAttempt, pPage, pWebSel, valToSend.get(), pTimeout, locator.get());
  co_await retry(action);
  co_return none();
}

// The text area and autocomplete fills are the text fill under their own names.
static Task<Ref> forward_to_text(Call c) {
  Ref fn = module_get(N->fCtPreencText.get());
  co_await call(fn.get(), c.arg(0), c.arg(1), c.arg(2), c.arg(3));
  co_return none();
}

Task<Ref> fCtPreencTextArea(Call c) { return forward_to_text(c); }
Task<Ref> fCtPreencAutoComplete(Call c) { return forward_to_text(c); }

}  // namespace zv::vc
