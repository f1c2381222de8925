// Select lists and multi-value items. A select list gets its option the way a user would
// pick it (the browser's option selection) or, when that fails, through APEX's item
// interface; a multi-value item gets its whole list of values through APEX in one script.
#include "bodies.hpp"
#include "fills/refresh.hpp"
#include "fills/usable_item.hpp"
#include "page.hpp"

namespace zv::vc {

// The attempt; closure: (page, selector, value text, item id, timeout, locator).
static Task<Ref> select_attempt(Call c) {
  PyObject* page = c.cap(0);
  PyObject* sel = c.cap(1);
  PyObject* val = c.cap(2);
  PyObject* item_id = c.cap(3);
  PyObject* timeout = c.cap(4);
  PyObject* locator = c.cap(5);
  try {
    Ref first = co_await usable_item(page, sel, locator, timeout, "fCtApexPreencDropDownList -> Dropdown nao encontrado: ",
                                     "fCtApexPreencDropDownList -> Dropdown desabilitado: ");
    if (!first) co_return none();

    // The browser's own selection, with a short fixed limit. Its failure (no such option,
    // a list that is not a select) is dropped without a line: APEX is asked next, unless the
    // list is being refreshed (its options still on their way from the server), in which
    // case the selection is tried once more when the refresh is over.
    // Cancellation is not an ordinary error and is not dropped here.
    for (bool waited = false;; waited = true) {
      try {
        co_await pg::select_option(page, sel, val, ZV_INT(2000));
        if (debug_on())
          log_info(message("fCtApexPreencDropDownList -> Dropdown selecionado (Playwright): ", sel));
        co_return none();
      } catch (PyError&) {
      }
      if (waited || !co_await refresh_ended(page, item_id, "fCtApexPreencDropDownList", sel)) break;
    }

    co_await pg::scroll_into_view(first.get());
    // APEX is asked even for a value no option carries (a list that loads its options
    // lazily may take it); the item read back tells whether the value is there.
    Ref applied = co_await pg::evaluate(page, ZV_SCRIPT(select_set), pg::list(item_id, val).get());
    if (!debug_on()) co_return none();
    if (applied.get() == Py_False)
      log_error(message("fCtApexPreencDropDownList -> Valor nao aplicado (APEX): ", sel, " | valor: ", val));
    else
      log_info(message("fCtApexPreencDropDownList -> Dropdown selecionado (APEX): ", sel));
  } catch (PyError& e) {
    if (debug_on())
      log_error(message("fCtApexPreencDropDownList -> Falha ao selecionar dropdown ", sel, ": ", e.get()));
  }
  co_return none();
}

static const FuncSpec kSelectAttempt = {"action", "fCtApexPreencDropDownList.<locals>.action", "",
                                        nullptr, select_attempt, nullptr, nullptr};

Task<Ref> fCtApexPreencDropDownList(Call c) {
  PyObject* pPage = c.arg(0);
  PyObject* pWebSel = c.arg(1);
  PyObject* pDbCampoValue = c.arg(2);
  PyObject* pTimeout = c.arg(3);
  if (is_blank(pDbCampoValue)) co_return none();
  Ref val = str(pDbCampoValue);
  Ref item_id = remove_all(pWebSel, "#");
  Ref locator = pg::locator(pPage, pWebSel);
  Ref action = make_attempt(&kSelectAttempt, pPage, pWebSel, val.get(), item_id.get(), pTimeout,
                            locator.get());
  co_await retry(action);
  co_return none();
}

// Every value in its text form, in order, handed to APEX at once; an error of the script
// reaches the caller. Nothing follows the script but the same script again after a refresh
// of the item: what it set is what the item keeps
// (sending the list through the select list fill would have APEX deselect every option).
Task<Ref> fCtApexPreencMultiSelect(Call c) {
  PyObject* pPage = c.arg(0);
  PyObject* pWebSel = c.arg(1);
  PyObject* pDbCamposValues = c.arg(2);

  Ref texts = check(PyList_New(0));
  Ref it = check(PyObject_GetIter(pDbCamposValues));
  while (PyObject* raw = PyIter_Next(it.get())) {
    Ref element = Ref::steal(raw);
    Ref t = str(element.get());
    check(PyList_Append(texts.get(), t.get()));
  }
  if (PyErr_Occurred()) throw_current();

  Ref item_id = remove_all(pWebSel, "#");
  Ref arg = pg::list(item_id.get(), texts.get());
  Ref applied = co_await pg::evaluate(pPage, ZV_SCRIPT(multi_select_set), arg.get());
  // Values the item did not take while it was being refreshed (a cascade, its options still
  // on their way) are set again once the refresh is over.
  if (applied.get() == Py_False && co_await refresh_ended(pPage, item_id.get(), "fCtApexPreencMultiSelect", pWebSel))
    co_await pg::evaluate(pPage, ZV_SCRIPT(multi_select_set), arg.get());
  co_return none();
}

}  // namespace zv::vc
