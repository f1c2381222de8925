#include "form/cell_activation.hpp"

#include "page.hpp"

namespace zv::vc {

Task<Ref> interactive_grid_of(PyObject* handle) {
  if (!handle || handle == Py_None) co_return none();
  Ref grid;
  Held failure;
  try {
    grid = co_await call_method(handle, N->evaluate.get(), ZV_SCRIPT(grelha_ig));
  } catch (PyError& e) {
    failure.set(e.take());  // a button gone since its wait: taken for no grid
  }
  co_await call_method(handle, N->dispose.get());
  co_return grid && PyUnicode_Check(grid.get()) ? grid : none();
}

Task<Ref> activate_cell(PyObject* page, PyObject* grid, PyObject* webSel, const char* owner) {
  if (grid == Py_None) co_return none();
  Ref sel = str(webSel);
  Ref outcome = co_await pg::evaluate(page, ZV_SCRIPT(celula_ig), pg::list(grid, sel.get()).get());
  const bool done = PyUnicode_Check(outcome.get()) && (PyUnicode_CompareWithASCIIString(outcome.get(), "ativada") == 0 ||
                                                       PyUnicode_CompareWithASCIIString(outcome.get(), "fora") == 0);
  if (!done && debug_on())
    log_warning(message(owner, " -> Celula da grelha ", grid, " nao ativada (", outcome, "): ", sel));
  co_return none();
}

}  // namespace zv::vc
