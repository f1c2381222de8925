// Date picker items: check the element (present, visible, enabled), then hand the date,
// as text and unchanged, to APEX's item interface in one page script, which also tells a
// disabled 22.2+ picker (whose element the browser always finds enabled).
#include "bodies.hpp"
#include "fills/usable_item.hpp"
#include "page.hpp"

namespace zv::vc {

static constexpr const char kDisabled[] = "fCtPreencDatepicker -> Datepicker desabilitado: ";

// The attempt; closure: (page, selector, value text, timeout, locator).
static Task<Ref> date_attempt(Call c) {
  PyObject* page = c.cap(0);
  PyObject* sel = c.cap(1);
  PyObject* val = c.cap(2);
  PyObject* timeout = c.cap(3);
  PyObject* locator = c.cap(4);
  try {
    Ref first = co_await usable_item(page, sel, locator, timeout, "fCtPreencDatepicker -> Datepicker nao encontrado: ",
                                     kDisabled);
    if (!first) co_return none();
    co_await pg::scroll_into_view(first.get());
    Ref answer = co_await pg::evaluate(page, ZV_SCRIPT(date_set), pg::list(sel, val).get());
    // A 22.2+ picker's element always looks enabled to the browser: the script asks the
    // item itself and writes nothing into a disabled one.
    if (PyUnicode_Check(answer.get()) && PyUnicode_CompareWithASCIIString(answer.get(), "disabled") == 0) {
      if (debug_on()) log_warning(message(kDisabled, sel));
      co_return none();
    }
    if (debug_on()) log_info(message("fCtPreencDatepicker -> Datepicker preenchido: ", sel));
  } catch (PyError& e) {
    if (debug_on())
      log_error(message("fCtPreencDatepicker -> Falha ao preencher datepicker ", sel, ": ", e.get()));
  }
  co_return none();
}

static const FuncSpec kDateAttempt = {"action", "fCtPreencDatepicker.<locals>.action", "", nullptr,
                                      date_attempt, nullptr, nullptr};

Task<Ref> fCtPreencDatepicker(Call c) {
  PyObject* pPage = c.arg(0);
  PyObject* pWebSel = c.arg(1);
  PyObject* pDbCampoValue = c.arg(2);
  PyObject* pTimeout = c.arg(3);
  if (is_blank(pDbCampoValue)) co_return none();
  Ref val = str(pDbCampoValue);
  Ref locator = pg::locator(pPage, pWebSel);
  Ref action = make_attempt(&kDateAttempt, pPage, pWebSel, val.get(), pTimeout, locator.get());
  co_await retry(action);
  co_return none();
}

}  // namespace zv::vc
