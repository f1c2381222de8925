// Radio groups and check box groups: one option, addressed as "#<group id>_<suffix>", is
// selected by clicking its label (or checking its input when it has none); when that
// fails, by a page script that sets the input and tells APEX.
#include "bodies.hpp"
#include "fills/refresh.hpp"
#include "page.hpp"

#include <exception>

namespace zv::vc {

// The attempt; closure: (page, target_id, timeout, radio_locator, label_locator, base_id,
// group selector).
// Its first three steps are not guarded: an option input that never appears is the retry
// wrapper's to try again and, in the end, the caller's to see. One that did not appear while
// the group was being refreshed (a cascade: its options emptied, the new ones still on their
// way from the server) is waited for once more when the refresh is over.
static Task<Ref> radio_attempt(Call c) {
  PyObject* page = c.cap(0);
  PyObject* target_id = c.cap(1);
  PyObject* timeout = c.cap(2);
  PyObject* radio_locator = c.cap(3);
  PyObject* label_locator = c.cap(4);
  PyObject* base_id = c.cap(5);
  PyObject* group_sel = c.cap(6);

  std::exception_ptr missing;
  try {
    co_await pg::wait_for_selector(page, target_id, N->attached.get(), timeout);
  } catch (PyError&) {
    missing = std::current_exception();
  }
  if (missing) {
    if (!co_await refresh_ended(page, base_id, "fCtPreencCheckRadio", group_sel)) std::rethrow_exception(missing);
    co_await pg::wait_for_selector(page, target_id, N->attached.get(), timeout);
  }
  Ref n = co_await pg::count(radio_locator);
  if (py_equal(n.get(), N->zero.get())) {
    if (debug_on()) {
      log_warning(message("fCtPreencCheckRadio -> Radio nao encontrado: ", target_id));
      log_warning(message("fCtPreencCheckRadio -> Saida 1 ---------------------------"));
    }
    co_return none();
  }
  Ref radio_first = pg::first(radio_locator);
  Ref enabled = co_await pg::is_enabled(radio_first.get());
  if (!truthy(enabled.get())) {
    if (debug_on()) {
      log_warning(message("fCtPreencCheckRadio -> Radio desabilitado: ", target_id));
      log_warning(message("fCtPreencCheckRadio -> Saida 2 ---------------------------"));
    }
    co_return none();
  }

  // Click way.
  try {
    // A label click toggles a check box: one that is ticked already is left as it is.
    Ref ticked = co_await pg::evaluate(page, ZV_SCRIPT(checkbox_ticked), target_id);
    if (!truthy(ticked.get())) {
      Ref labels = co_await pg::count(label_locator);
      if (check(PyObject_RichCompareBool(labels.get(), N->zero.get(), Py_GT))) {
        Ref label_first = pg::first(label_locator);
        co_await pg::wait_for(label_first.get(), N->visible.get(), ZV_INT(2000));
        co_await pg::scroll_into_view(label_first.get());
        co_await pg::click(label_first.get());
      } else {
        co_await pg::wait_for(radio_first.get(), N->visible.get(), ZV_INT(2000));
        co_await pg::scroll_into_view(radio_first.get());
        co_await pg::check(radio_first.get());
      }
    }
    if (debug_on()) {
      log_info(message("fCtPreencCheckRadio -> Radio selecionado: ", target_id));
      log_warning(message("fCtPreencCheckRadio -> Saida 3 ---------------------------"));
    }
    co_return none();
  } catch (PyError&) {
    if (debug_on())
      log_warning(message("fCtPreencCheckRadio -> Saida 4 except Exception pass ---------------------------"));
  }

  // Script way.
  if (debug_on()) log_debug(message("fCtPreencCheckRadio -> Elemento hidden, tentando via JS: ", target_id));
  try {
    co_await pg::evaluate(page, ZV_SCRIPT(radio_set), target_id);
    if (debug_on()) log_info(message("fCtPreencCheckRadio -> Radio selecionado via JS: ", target_id));
  } catch (PyError& e) {
    if (debug_on())
      log_error(message("fCtPreencCheckRadio -> Falha total radio ", target_id, ": ", e.get()));
  }
  co_return none();
}

static const FuncSpec kRadioAttempt = {"action", "fCtPreencCheckRadio.<locals>.action", "", nullptr,
                                       radio_attempt, nullptr, nullptr};

Task<Ref> fCtPreencCheckRadio(Call c) {
  PyObject* pPage = c.arg(0);
  PyObject* pWebSelBase = c.arg(1);
  PyObject* pDbCampoValue = c.arg(2);
  PyObject* pTimeout = c.arg(3);
  if (is_blank(pDbCampoValue)) co_return none();

  Ref base_id = remove_all(pWebSelBase, "#");
  Ref indice = trimmed_text(pDbCampoValue);
  Ref target_id = message("#", base_id, "_", indice);
  Ref label_sel = message("label[for='", base_id, "_", indice, "']");
  if (debug_on()) {
    log_warning(message("fCtPreencCheckRadio -> Incio ---------------------------"));
    log_warning(message("fCtPreencCheckRadio -> Radio base_id: ", base_id));
    log_warning(message("fCtPreencCheckRadio -> Radio indice: ", indice));
    log_warning(message("fCtPreencCheckRadio -> Radio target_id: ", target_id));
    log_warning(message("fCtPreencCheckRadio -> Radio label_sel: ", label_sel));
  }

  Ref radio_locator = pg::locator(pPage, target_id.get());
  Ref label_locator = pg::locator(pPage, label_sel.get());
  Ref group_sel = message("#", base_id);
  Ref action = make_attempt(&kRadioAttempt, pPage, target_id.get(), pTimeout, radio_locator.get(),
                            label_locator.get(), base_id.get(), group_sel.get());
  if (debug_on()) log_warning(message("fCtPreencCheckRadio -> Saida Fim ---------------------------"));
  co_await retry(action);
  co_return none();
}

// One check box of a group per call: the radio fill does the work.
Task<Ref> fCtPreencCheckMultiple(Call c) {
  if (debug_on()) log_warning(message("fCtPreencCheckMultiple -> Inicio ---------------------------"));
  if (is_blank(c.arg(2))) {
    if (debug_on()) log_warning(message("fCtPreencCheckMultiple -> Saida 1 ---------------------------"));
    co_return none();
  }
  if (debug_on())
    log_warning(message(
        "fCtPreencCheckMultiple -> Saida Fim -> Chamar -> fCtPreencCheckRadio ---------------------------"));
  Ref radio = module_get(ZV_STR("fCtPreencCheckRadio"));
  co_await call(radio.get(), c.arg(0), c.arg(1), c.arg(2), c.arg(3));
  co_return none();
}

}  // namespace zv::vc
