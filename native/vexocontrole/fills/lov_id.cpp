// fCtApexPreencPopupLovId: sets a popup LOV item from a return value. Screens the value
// first (none, blank, zero and placeholder texts are skipped with a warning); then, through
// the retry wrapper, opens the popup with the item's LOV button, lets a page script find the
// row (loading further pages as needed) and set the item, closes the popup and waits for
// the page to settle.
#include "bodies.hpp"
#include "lov_home.hpp"
#include "pacing.hpp"
#include "page.hpp"

namespace zv::vc {

namespace {

// Compared exactly (case-sensitive) with a trimmed text form.
constexpr const char* kInvalid[] = {"", "0", "0.0", "None", "null", "false", "undefined"};

// `trimmed` is what strip() answered: a str, or (from a str subclass) anything at all,
// compared then as Python's `==` compares it.
bool is_invalid_text(PyObject* trimmed) {
  for (const char* s : kInvalid) {
    if (PyUnicode_Check(trimmed) ? PyUnicode_CompareWithASCIIString(trimmed, s) == 0
                                 : py_equal(trimmed, text(s).get()))
      return true;
  }
  return false;
}

// Python's float(v).
Ref float_of(PyObject* v) { return check(PyObject_CallOneArg(reinterpret_cast<PyObject*>(&PyFloat_Type), v)); }

// type(v).__name__
Ref type_name(PyObject* v) { return check(PyType_GetName(Py_TYPE(v))); }

bool nonempty(PyObject* s) {
  return PyUnicode_Check(s) ? PyUnicode_GET_LENGTH(s) != 0 : !py_equal(s, ZV_STR(""));
}

// The screening's verdict. Any value that float() cannot take (ValueError, TypeError)
// is judged by its text alone.
bool screen(PyObject* value, PyObject* sel) {
  try {
    return value != Py_None && sel != Py_None && nonempty(trimmed_text(sel).get()) &&
           !is_invalid_text(trimmed_text(value).get()) &&
           PyFloat_AS_DOUBLE(float_of(value).get()) != 0.0;
  } catch (PyError& e) {
    if (!PyErr_GivenExceptionMatches(e.get(), PyExc_ValueError) &&
        !PyErr_GivenExceptionMatches(e.get(), PyExc_TypeError))
      throw;
  }
  return value != Py_None && !is_invalid_text(trimmed_text(value).get());
}

void trace_arguments(PyObject* pWebSel, PyObject* pDbCampoValue) {
  log_debug(message("fCtApexPreencPopupLovId -> pWebSel       = ", repr_of(pWebSel)));
  log_debug(message("fCtApexPreencPopupLovId -> pDbCampoValue = ", repr_of(pDbCampoValue)));
  log_debug(message("fCtApexPreencPopupLovId -> tipo          = ", type_name(pDbCampoValue)));
  Ref trimmed = trimmed_text(pDbCampoValue);
  log_debug(message("fCtApexPreencPopupLovId -> str()         = ", repr_of(trimmed.get())));
  try {
    Ref f = float_of(pDbCampoValue);
    log_debug(message("fCtApexPreencPopupLovId -> float()   = ", f));
  } catch (PyError&) {
    log_debug(message("fCtApexPreencPopupLovId -> float()   = ERRO conversão"));
  }
}

// Closes the popup that is open now with its own close button; quiet, so that the error
// that made the attempt fail is the one reported. An item whose dialog is in the top
// document has that dialog, and only it, closed there.
Task<Ref> close_open_popup(PyObject* page, PyObject* item, bool inTop) {
  try {
    if (inTop)
      co_await pg::evaluate(page, ZV_SCRIPT(lov_close), pg::list(item, Py_True).get());
    else
      co_await pg::evaluate(page, ZV_SCRIPT(lov_close));
  } catch (PyError&) {
  }
  co_return none();
}

// How long the LOV button's click waits for the button to take it, for an item whose dialog
// is in the top document: a dialog left open there covers the item's frame, and a click made
// anyway would land on it (on one of its rows). Playwright's own hit-target check refuses
// such a click; this bounds its wait, so that the attempt fails instead.
constexpr long long kCoveredClickMs = 5000;

}  // namespace

// The attempt; closure: (page, item id, value searched, LOV button selector, load-more
// selector, whether the item's dialog is in the top document).
static Task<Ref> lov_id_attempt(Call c) {
  PyObject* page = c.cap(0);
  PyObject* lWebSel = c.cap(1);
  PyObject* lDbCampoValue = c.cap(2);
  PyObject* lPopUpLovBotao = c.cap(3);
  PyObject* pLoadMoreSel = c.cap(4);
  const bool inTop = c.cap(5) == Py_True;

  if (debug_on())
    log_info(message("fCtApexPreencPopupLovId -> Abrir LOV: ", lPopUpLovBotao, " | valor: ",
                     repr_of(lDbCampoValue)));
  Ref button = pg::locator(page, lPopUpLovBotao);
  if (inTop)
    co_await pg::click_within(button.get(), ZV_INT(kCoveredClickMs));
  else
    co_await pg::click(button.get());

  PauseSite site;
  site.page = page;
  site.owner = "fCtApexPreencPopupLovId";
  site.item = lWebSel;
  site.lov_in_top = inTop;

  // From here on the popup is open: a failure closes it before the next attempt opens it.
  Held failure;
  Ref found;
  try {
    co_await pause_at(PausePoint::LovOpen, site);
    // The load-more pause is made by the search itself; the adaptive pacing hands it its
    // condition's bound as a fourth element.
    // An item whose dialog is in the top document says so in a fifth element.
    Ref loadMorePacing = load_more_pacing();
    Ref searchArg = inTop ? pg::list(lWebSel, lDbCampoValue, pLoadMoreSel,
                                     loadMorePacing ? loadMorePacing.get() : Py_None, Py_True)
                    : loadMorePacing ? pg::list(lWebSel, lDbCampoValue, pLoadMoreSel, loadMorePacing.get())
                                     : pg::list(lWebSel, lDbCampoValue, pLoadMoreSel);
    Ref result = co_await pg::evaluate(page, ZV_SCRIPT(lov_id), searchArg.get());
    if (loadMorePacing) note_load_more_fallbacks(result.get(), site.owner);
    if (debug_on()) log_info(message("fCtApexPreencPopupLovId -> Resultado: ", result));
    Ref skipped = call_method(result.get(), N->get.get(), ZV_STR("skipped"));
    if (truthy(skipped.get())) co_return none();
    Ref success = call_method(result.get(), N->get.get(), ZV_STR("success"));
    if (!truthy(success.get())) {
      Ref errorMsg = call_method(result.get(), N->get.get(), ZV_STR("error"));
      if (!truthy(errorMsg.get())) errorMsg = text("Item nao encontrado na LOV");
      if (debug_on())
        log_error(message("fCtApexPreencPopupLovId -> Error ", errorMsg, " | Campo: ", lWebSel,
                          " | Valor procurado: ", lDbCampoValue));
      raise_new(PyExc_Exception, errorMsg);
    }
    found = result;
  } catch (PyError& e) {
    failure.set(e.take());
  }
  if (failure) {
    co_await close_open_popup(page, lWebSel, inTop);
    failure.rethrow();
  }

  // The row is set; APEX leaves the popup open after setValue: the close wait.
  site.found = found.get();
  co_await pause_at(PausePoint::LovClose, site);

  Ref wait = module_get(N->fCtApexWaitStable.get());
  co_await call(wait.get(), page);
  co_await pause_at(PausePoint::LovSettle, site);
  co_return none();
}

static const FuncSpec kLovIdAttempt = {"action", "fCtApexPreencPopupLovId.<locals>.action", "",
                                       nullptr, lov_id_attempt, nullptr, nullptr};

Task<Ref> fCtApexPreencPopupLovId(Call c) {
  PyObject* pPage = c.arg(0);
  PyObject* pWebSel = c.arg(1);
  PyObject* pDbCampoValue = c.arg(2);
  // pTimeout (arg 3) is accepted and has no effect.
  PyObject* pLoadMoreSel = c.arg(4);

  if (debug_on()) trace_arguments(pWebSel, pDbCampoValue);

  if (!screen(pDbCampoValue, pWebSel)) {
    log_warning(message("fCtApexPreencPopupLovId -> Valor incorreto / Pular: campo=", repr_of(pWebSel),
                        " | valor=", repr_of(pDbCampoValue)));
    co_return none();
  }

  Ref selText = str(pWebSel);
  Ref lWebSel = call_method(remove_all(selText.get(), "#").get(), N->strip.get());
  Ref lDbCampoValue = trimmed_text(pDbCampoValue);
  Ref lPopUpLovBotao = message("#", lWebSel, "_lov_btn");

  if (debug_on()) {
    Ref tipo = type_name(pDbCampoValue);
    log_info(message("fCtApexPreencPopupLovId -> Interno pWebSel       = ", pWebSel));
    log_info(message("fCtApexPreencPopupLovId -> Interno lWebSel       = ", lWebSel));
    log_info(message("fCtApexPreencPopupLovId -> Interno consistiuOK   = ", Py_True));
    log_info(message("fCtApexPreencPopupLovId -> Interno lDbCampoValue = ", repr_of(lDbCampoValue.get()),
                     " | tipo=", tipo));
    log_info(message("fCtApexPreencPopupLovId -> Interno tipo          = ", tipo));
  }

  PyObject* inTop = lov_in_top(pPage) ? Py_True : Py_False;
  Ref action = make_attempt(&kLovIdAttempt, pPage, lWebSel.get(), lDbCampoValue.get(),
                            lPopUpLovBotao.get(), pLoadMoreSel, inTop);
  co_await retry(action);
  co_return none();
}

}  // namespace zv::vc
