// fCtApexIdentTipoCampoPreenc: turns a field configuration's type into the fill for that
// kind of item. The fills are looked up in the module by name at each call, so a
// replaced module function is the one that runs.
#include "bodies.hpp"

#include <cstddef>

namespace zv::vc {

namespace {

// One row per accepted (lower-cased) type name, in the order they are tried.
struct FieldKind {
  const char* tipo;
  const char* fill;
  bool passes_timeout;  // false: the fill keeps its own time limit (and other defaults)
};

constexpr FieldKind kKinds[] = {
    {"text", "fCtPreencText", true},
    {"textarea", "fCtPreencTextArea", true},
    {"dropdownlist", "fCtApexPreencDropDownList", true},
    {"radio", "fCtPreencCheckRadio", true},
    {"checkboxmultiple", "fCtPreencCheckMultiple", true},
    {"popuplovid", "fCtApexPreencPopupLovId", false},
    {"date", "fCtPreencDatepicker", true},
    {"datepicker", "fCtPreencDatepicker", true},
    {"multiselect", "fCtApexPreencMultiSelect", true},
    {"autocomplete", "fCtPreencAutoComplete", true},
    // APEX 24.2's yes/no items (beyond the field types the form was first built with)
    {"switch", "fCtPreencSwitch", true},
    {"checkbox", "fCtPreencCheckbox", true},
};
constexpr std::size_t kKindCount = sizeof(kKinds) / sizeof(kKinds[0]);

// The type names and fill names as Python strings, made once.
struct KindNames {
  PyObject* tipo[kKindCount];
  PyObject* fill[kKindCount];
};

const KindNames& kind_names() {
  static const KindNames names = [] {
    KindNames k{};
    for (std::size_t i = 0; i < kKindCount; ++i) {
      k.tipo[i] = intern_text(kKinds[i].tipo);
      k.fill[i] = name(kKinds[i].fill).release();
    }
    return k;
  }();
  return names;
}

}  // namespace

Task<Ref> fCtApexIdentTipoCampoPreenc(Call c) {
  PyObject* pPage = c.arg(0);
  PyObject* pWebConfig = c.arg(1);
  PyObject* pDbCampoValue = c.arg(2);
  PyObject* pTimeout = c.arg(3);

  // The selector is read first: a configuration without one fails on it whatever its type.
  Ref webSel = check(PyObject_GetItem(pWebConfig, ZV_STR("WebSel")));
  Ref colTipo = check(PyObject_GetItem(pWebConfig, ZV_STR("ColTipo")));
  Ref tipo = call_method(colTipo.get(), N->lower.get());

  const KindNames& names = kind_names();
  for (std::size_t i = 0; i < kKindCount; ++i) {
    if (!py_equal(tipo.get(), names.tipo[i])) continue;
    Ref fill = module_get(names.fill[i]);
    Ref step = kKinds[i].passes_timeout
                   ? call(fill.get(), pPage, webSel.get(), pDbCampoValue, pTimeout)
                   : call(fill.get(), pPage, webSel.get(), pDbCampoValue);
    co_await std::move(step);
    co_return none();
  }
  raise_new(PyExc_Exception,
            message("fCtApexIdentTipoCampoPreenc -> Tipo campo nao suportado: ", colTipo));
  co_return none();
}

}  // namespace zv::vc
