// The repeating grids (holders and beneficiaries): for each record, click the add button,
// fill every cell through a nested controller over the same page, click the save button,
// with fixed pauses. One routine serves both grids; a table gives each grid's button keys
// and message texts.
//
// A failing row (a wait that times out, a missing button entry, ...) is logged and
// skipped. A failing cell ends the process: it is logged with its traceback and then
// sys.exit(1) is requested, whose SystemExit no ordinary guard takes.
#include "bodies.hpp"
#include "mapping.hpp"
#include "page.hpp"

#include <cstddef>

namespace zv::vc {

namespace {

struct Grid {
  const char* method;  // the controller method the entry drives
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
constexpr long long kAfterAddMs = 1200;
constexpr long long kSaveWaitMs = 10000;
constexpr long long kAfterSaveMs = 1800;

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

// The formatted traceback of the exception being handled.
Ref format_exc() {
  Ref tb = check(PyImport_ImportModule("traceback"));
  return call_method(tb.get(), ZV_STR("format_exc"));
}

// Waits (up to wait_ms) for the grid button named by `key` to exist and be enabled, clicks
// it, then pauses for pause_ms. The selector is read from the mapping at each use.
Task<Ref> press_button(PyObject* self, PyObject* columns, PyObject* key, PyObject* wait_ms,
                       PyObject* pause_ms) {
  {
    Ref page = page_of(self);
    Ref sel = enabled_selector(columns, key);
    co_await pg::wait_for_selector(page.get(), sel.get(), nullptr, wait_ms);
  }
  {
    Ref page = page_of(self);
    Ref sel = button_selector(columns, key);
    co_await pg::click(page.get(), sel.get());
  }
  Ref page = page_of(self);
  co_await pg::wait_for_timeout(page.get(), pause_ms);
  co_return none();
}

// One record: add a row, fill its cells, save it. What raises here is a row failure,
// except the exit a failing cell requests.
Task<Ref> fill_row(const Grid& g, PyObject* self, PyObject* pDictColsDePara, PyObject* dbDado,
                   PyObject* nested, PyObject* addKey, PyObject* saveKey) {
  co_await press_button(self, pDictColsDePara, addKey, ZV_INT(kAddWaitMs), ZV_INT(kAfterAddMs));

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

    Held cellFailure;
    try {
      for (std::size_t i = 0; i < kCellKindCount; ++i) {
        Ref colTipo = form::item(webConfig, ZV_STR("ColTipo"));
        if (!py_equal(colTipo.get(), kinds.tipo[i])) continue;
        Ref fill = getattr(nested, kinds.method[i]);
        co_await call(fill.get(), webSel.get(), dbCampoValue.get());
        break;
      }
    } catch (PyError& e) {
      cellFailure.set(e.take());
    }
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

  co_await press_button(self, pDictColsDePara, saveKey, ZV_INT(kSaveWaitMs), ZV_INT(kAfterSaveMs));
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

    Held rowFailure;
    try {
      co_await fill_row(g, self, pDictColsDePara, dbDado.get(), nested.get(), addKey.get(),
                        saveKey.get());
    } catch (PyError& e) {
      rowFailure.set(e.take());
    }
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
