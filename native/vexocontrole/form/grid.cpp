// The repeating grids (holders and beneficiaries): for each record, click the add button,
// fill every cell through a nested controller over the same page, click the save button,
// with fixed pauses. One routine serves both grids; a table gives each grid's button keys
// and message texts.
//
// A failing row (a wait that times out, a missing button entry, ...) is logged and
// skipped. A failing cell ends the process: it is logged with its traceback and then
// sys.exit(1) is requested, whose SystemExit no ordinary guard takes.
//
// An observer (ziveviver.eventos) is told of every row and every cell as they start and end.
//
// A grid whose add button sits in an APEX Interactive Grid keeps its column items hidden until
// their cells are edited: there each cell is activated (cell_activation.hpp) before its fill.
#include "bodies.hpp"
#include "events.hpp"
#include "form/cell_activation.hpp"
#include "mapping.hpp"
#include "pacing.hpp"
#include "page.hpp"

#include <cstddef>

namespace zv::vc {

namespace {

struct Grid {
  const char* method;  // the controller method the entry drives
  const char* section;  // the mapping's key for the grid, as the events name it
  const char* owner;   // the method as log lines name it
  const char* add_key;
  const char* save_key;
  const char* preamble_config;
  const char* preamble_data;
  const char* progress;
  const char* listing;
  const char* trace_config;
  const char* trace_sel;
  const char* trace_campo;
  const char* trace_valor;
  const char* cell_failure;
  const char* row_failure;
};

constexpr Grid kHolders = {
    "fPreencGridTitular",
    "Titulares",
    "VexoControleApex -> fPreencGridTitular",
    "TitInserir",
    "TitGravar",
    "VexoControleApex -> fPreencGridTitular -> configs recebidos: ",
    "VexoControleApex -> fPreencGridTitular -> data recebida: ",
    "VexoControleApex -> fPreencGridTitular -> Processando Titular PF/Proprietário ",
    "VexoControleApex -> fPreencGridTitular -> dbCampo=",
    "VexoControleApex -> fPreencGridTitular -> pWebConfig ",
    "VexoControleApex -> fPreencGridTitular -> WebSel ",
    "VexoControleApex -> fPreencGridTitular -> dbCampo ",
    "VexoControleApex -> fPreencGridTitular -> pDbCampoValue ",
    "VexoControleApex -> fPreencGridTitular -> Erro no preenchimento do campo Titular ",
    "VexoControleApex -> fPreencGridTitular -> Erro ao gravar Titular ",
};

constexpr Grid kBeneficiaries = {
    "fPreencGridBeneficiario",
    "Beneficiarios",
    "VexoControleApex -> fPreencGridBeneficiario",
    "BenInserir",
    "BenGravar",
    "VexoControleApex -> fPreencGridBeneficiario-> configs recebidos: ",
    "VexoControleApex -> fPreencGridBeneficiario -> data recebida: ",
    "VexoControleApex -> fPreencGridBeneficiario -> Processando beneficiario ",
    "VexoControleApex -> fPreencGridBeneficiario -> dbCampo=",
    "VexoControleApex -> fPreencGridBeneficiario -> pWebConfig ",
    "VexoControleApex -> fPreencGridBeneficiario -> WebSel ",
    "VexoControleApex -> fPreencGridBeneficiario -> dbCampo ",
    "VexoControleApex -> fPreencGridBeneficiario -> pDbCampoValue ",
    "VexoControleApex -> fPreencGridBeneficiario -> Erro preenchimento campo Beneficiario ",
    "VexoControleApex -> fPreencGridBeneficiario -> Erro ao gravar Beneficiario ",
};

// The widget kinds a cell accepts ("ColTipo", compared exactly) and the nested
// controller's method that fills each; any other kind leaves the cell untouched.
struct CellKind {
  const char* tipo;
  const char* method;
};

constexpr CellKind kCellKinds[] = {
    {"text", "fCtPreencText"},
    {"datepicker", "fCtPreencDatepicker"},
    {"dropdownlist", "fCtApexPreencDropDownList"},
    {"checkboxmultiple", "fCtPreencCheckMultiple"},
    {"popuplovid", "fCtApexPreencPopupLovId"},
    {"switch", "fCtPreencSwitch"},
    {"checkbox", "fCtPreencCheckbox"},
};
constexpr std::size_t kCellKindCount = sizeof(kCellKinds) / sizeof(kCellKinds[0]);

struct CellKindNames {
  PyObject* tipo[kCellKindCount];
  PyObject* method[kCellKindCount];
};

const CellKindNames& cell_kind_names() {
  static const CellKindNames names = [] {
    CellKindNames k{};
    for (std::size_t i = 0; i < kCellKindCount; ++i) {
      k.tipo[i] = intern_text(kCellKinds[i].tipo);
      k.method[i] = name(kCellKinds[i].method).release();
    }
    return k;
  }();
  return names;
}

constexpr long long kAddWaitMs = 15000;
constexpr long long kSaveWaitMs = 10000;

Ref page_of(PyObject* self) { return getattr(self, N->page.get()); }

// The text of a button entry's selector, read from the mapping at each use.
Ref button_selector(PyObject* pDictColsDePara, PyObject* key) {
  Ref button = form::item(pDictColsDePara, key);
  return str(form::item(button.get(), ZV_STR("WebSel")).get());
}

// The same selector, matching only while the button is enabled.
Ref enabled_selector(PyObject* pDictColsDePara, PyObject* key) {
  return message(button_selector(pDictColsDePara, key), ":not([disabled])");
}

bool is_button_key(PyObject* key, PyObject* addKey, PyObject* saveKey) {
  return py_equal(key, addKey) || py_equal(key, saveKey);
}

// The record's value for a column, "" when it has none.
Ref cell_value(PyObject* dbDado, PyObject* dbCampo) {
  return call_method(dbDado, N->get.get(), dbCampo, ZV_STR(""));
}

// The trace of every cell of the row, before anything is filled (debug mode only).
void log_listing(const Grid& g, PyObject* pDictColsDePara, PyObject* dbDado, PyObject* addKey,
                 PyObject* saveKey) {
  form::Items cells(pDictColsDePara);
  while (cells.next()) {
    PyObject* dbCampo = cells.key();
    PyObject* webConfig = cells.value();
    if (is_button_key(dbCampo, addKey, saveKey)) continue;
    Ref dbCampoValue = cell_value(dbDado, dbCampo);
    Ref webSel = form::item(webConfig, ZV_STR("WebSel"));
    Ref colTipo = form::item(webConfig, ZV_STR("ColTipo"));
    log_info(message(g.listing, repr_of(dbCampo), ", dbCampoValue=", repr_of(dbCampoValue.get()),
                     ", webSel=", repr_of(webSel.get()), ", webConfig['ColTipo']=",
                     repr_of(colTipo.get())));
  }
}

// What the adaptive pacing watches after a click (pacing.cpp): after the add click the first
// mapped cell of the row editor, after the save click the add button. None when the mapping
// does not tell (the pause then falls back to the literal one).
Ref first_cell_selector(PyObject* pDictColsDePara, PyObject* addKey, PyObject* saveKey) {
  try {
    form::Items cells(pDictColsDePara);
    while (cells.next()) {
      if (is_button_key(cells.key(), addKey, saveKey)) continue;
      return str(form::item(cells.value(), ZV_STR("WebSel")).get());
    }
  } catch (PyError&) {
  }
  return none();
}

Ref add_button_selector(PyObject* pDictColsDePara, PyObject* addKey) {
  try {
    return button_selector(pDictColsDePara, addKey);
  } catch (PyError&) {
  }
  return none();
}

// The formatted traceback of the exception being handled.
Ref format_exc() {
  Ref tb = check(PyImport_ImportModule("traceback"));
  return call_method(tb.get(), ZV_STR("format_exc"));
}

// Waits (up to wait_ms) for the grid button named by `key` to exist and be enabled, clicks
// it, then makes the pause point's pause. The selector is read from the mapping at each use.
// With `grid_out` (the add button) the button's grid is looked up before the click: the
// Interactive Grid's static id, or None. `grid` is the Interactive Grid the pause watches.
Task<Ref> press_button(const Grid& g, PyObject* self, PyObject* columns, PyObject* key,
                       PyObject* wait_ms, PausePoint point, PyObject* watched, PyObject* grid,
                       Ref* grid_out) {
  {
    Ref page = page_of(self);
    Ref sel = enabled_selector(columns, key);
    Ref button = co_await pg::wait_for_selector(page.get(), sel.get(), nullptr, wait_ms);
    if (grid_out) {
      *grid_out = co_await interactive_grid_of(button.get());
      grid = grid_out->get();
    }
  }
  {
    Ref page = page_of(self);
    Ref sel = button_selector(columns, key);
    co_await pg::click(page.get(), sel.get());
  }
  Ref page = page_of(self);
  PauseSite site;
  site.page = page.get();
  site.owner = g.owner;
  site.selector = watched == Py_None ? nullptr : watched;
  site.grid = grid == Py_None ? nullptr : grid;
  co_await pause_at(point, site);
  co_return none();
}

// One record: add a row, fill its cells, save it. What raises here is a row failure,
// except the exit a failing cell requests.
Task<Ref> fill_row(const Grid& g, PyObject* self, PyObject* pDictColsDePara, PyObject* dbDado,
                   PyObject* nested, PyObject* addKey, PyObject* saveKey, PyObject* section,
                   PyObject* position) {
  const bool adaptive = pacing_adaptive();
  Ref firstCell = adaptive ? first_cell_selector(pDictColsDePara, addKey, saveKey) : none();
  Ref grid = none();
  co_await press_button(g, self, pDictColsDePara, addKey, ZV_INT(kAddWaitMs), PausePoint::GridAdd,
                        firstCell.get(), Py_None, &grid);

  if (debug_on()) log_listing(g, pDictColsDePara, dbDado, addKey, saveKey);

  const CellKindNames& kinds = cell_kind_names();
  form::Items cells(pDictColsDePara);
  while (cells.next()) {
    PyObject* dbCampo = cells.key();
    PyObject* webConfig = cells.value();
    if (is_button_key(dbCampo, addKey, saveKey)) continue;
    Ref dbCampoValue = cell_value(dbDado, dbCampo);
    Ref webSel = form::item(webConfig, ZV_STR("WebSel"));
    if (debug_on()) {
      log_info(text(" "));
      log_info(message(g.trace_config, webConfig));
      log_info(message(g.trace_sel, webSel));
      log_info(message(g.trace_campo, dbCampo));
      log_info(message(g.trace_valor, dbCampoValue));
      log_info(text(" "));
    }

    ev::Span cell = ev::field(section, position, dbCampo, webConfig);
    Held cellFailure, cellAbort;
    bool filled = false;
    try {
      for (std::size_t i = 0; i < kCellKindCount; ++i) {
        Ref colTipo = form::item(webConfig, ZV_STR("ColTipo"));
        if (!py_equal(colTipo.get(), kinds.tipo[i])) continue;
        Ref fill = getattr(nested, kinds.method[i]);
        filled = true;
        {
          Ref page = page_of(self);
          co_await activate_cell(page.get(), grid.get(), webSel.get(), g.owner);
        }
        co_await call(fill.get(), webSel.get(), dbCampoValue.get());
        break;
      }
    } catch (PyError& e) {
      cellFailure.set(e.take());
    } catch (PyAbort& e) {
      cellAbort.set(e.take());
    }
    // A kind the grids do not fill leaves the cell untouched: "ignorado" to an observer.
    cell.close(cellFailure ? cellFailure.get() : cellAbort.get(), filled ? nullptr : "ignorado");
    if (cellAbort) cellAbort.rethrow();
    if (cellFailure) {
      if (debug_on()) {
        Handling handling(cellFailure.get());
        Ref tb = format_exc();
        log_error_exc(message(g.cell_failure, dbCampo, ": ", cellFailure.get(), " ", tb));
      }
      Ref sys = module_get(N->sys.get());
      call_method(sys.get(), N->exit.get(), N->one.get());
    }
  }

  Ref addButton = adaptive ? add_button_selector(pDictColsDePara, addKey) : none();
  co_await press_button(g, self, pDictColsDePara, saveKey, ZV_INT(kSaveWaitMs), PausePoint::GridSave,
                        addButton.get(), grid.get(), nullptr);
  co_return none();
}

Task<Ref> fill_grid(const Grid& g, Call c) {
  PyObject* self = c.arg(0);
  PyObject* pDictColsDePara = c.arg(1);
  PyObject* pJsonDados = c.arg(2);
  Ref addKey = text(g.add_key);
  Ref saveKey = text(g.save_key);

  if (debug_on()) {
    log_info(text("-------------------------------"));
    log_info(message(g.preamble_config, pDictColsDePara));
    log_info(message(g.preamble_data, pJsonDados));
  }

  // Every cell of this call goes through a second controller over the same page.
  Ref nested;
  {
    Ref klass = module_get(ZV_STR("VexoControleApex"));
    Ref page = page_of(self);
    Ref flag = module_get(N->gDebugDev.get());
    nested = call(klass.get(), page.get(), flag.get());
  }

  Ref section = text(g.section);
  Ref total = ev::observer() ? ev::size_of(pJsonDados) : none();
  Ref records = check(PyObject_GetIter(pJsonDados));
  Py_ssize_t idx = 0;
  for (;;) {
    Ref dbDado = Ref::steal(PyIter_Next(records.get()));
    if (!dbDado) {
      if (PyErr_Occurred()) throw_current();
      break;
    }
    Ref position = integer(++idx);
    if (debug_on()) {
      Py_ssize_t total = PyObject_Size(pJsonDados);
      if (total < 0) throw_current();
      Ref count = check(PyLong_FromSsize_t(total));
      log_info(message(g.progress, position, "/", count));
    }

    ev::Span row = ev::Span::open("linha_inicio", "linha_gravada", "linha_ignorada",
                                  ev::Field{"secao", section.get()}, ev::Field{"linha", position.get()},
                                  ev::Field{"total", total.get()});
    Held rowFailure, rowAbort;
    try {
      co_await fill_row(g, self, pDictColsDePara, dbDado.get(), nested.get(), addKey.get(),
                        saveKey.get(), section.get(), position.get());
    } catch (PyError& e) {
      rowFailure.set(e.take());
    } catch (PyAbort& e) {
      rowAbort.set(e.take());
    }
    row.close(rowFailure ? rowFailure.get() : rowAbort.get());
    if (rowAbort) rowAbort.rethrow();
    if (rowFailure && debug_on()) {
      Handling handling(rowFailure.get());
      log_error_exc(message(g.row_failure, position, ": ", rowFailure.get()));
    }
  }
  co_return none();
}

}  // namespace

Task<Ref> m_fPreencGridTitular(Call c) { return fill_grid(kHolders, c); }
Task<Ref> m_fPreencGridBeneficiario(Call c) { return fill_grid(kBeneficiaries, c); }

}  // namespace zv::vc
