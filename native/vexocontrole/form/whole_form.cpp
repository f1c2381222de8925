// The controller's single-field and whole-form fills. The whole form walks the mapping in
// order, filling simple fields through the type dispatch until the first section key,
// then fills the sections (representatives, holders, beneficiaries) through the
// controller's own methods, looked up on the controller so that a subclass or an
// instance attribute can take their place. Nothing is caught here but to tell an observer
// (ziveviver.eventos) how a section or a field ended, before it goes on its way.
#include "bodies.hpp"
#include "events.hpp"
#include "mapping.hpp"

#include <cstddef>

namespace zv::vc {

namespace {

Ref page_of(PyObject* self) { return getattr(self, N->page.get()); }

// The sections, in the order they are filled whatever their order in the mapping.
struct Section {
  const char* key;
  const char* method;
  const char* log_line;
  bool needs_rep_flag;  // filled only when the data's "RepAtivarPreenc" equals 1
};

constexpr Section kSections[] = {
    {"Representantes", "fCtApexPreencRepres", "VexoControleApex -> fCtPreencTodoForm -> Representantes",
     true},
    {"Titulares", "fPreencGridTitular", "VexoControleApex -> fCtPreencTodoForm -> Titulares", false},
    {"Beneficiarios", "fPreencGridBeneficiario", "VexoControleApex -> fCtPreencTodoForm -> Beneficiarios",
     false},
};
constexpr std::size_t kSectionCount = sizeof(kSections) / sizeof(kSections[0]);

struct SectionNames {
  PyObject* key[kSectionCount];
  PyObject* method[kSectionCount];
  PyObject* log_line[kSectionCount];
};

const SectionNames& section_names() {
  static const SectionNames names = [] {
    SectionNames s{};
    for (std::size_t i = 0; i < kSectionCount; ++i) {
      s.key[i] = intern_text(kSections[i].key);
      s.method[i] = name(kSections[i].method).release();
      s.log_line[i] = intern_text(kSections[i].log_line);
    }
    return s;
  }();
  return names;
}

bool is_section_key(PyObject* key) {
  const SectionNames& names = section_names();
  for (std::size_t i = 0; i < kSectionCount; ++i)
    if (py_equal(key, names.key[i])) return true;
  return false;
}

// The simple fields, in the mapping's order, up to the first section key.
Task<Ref> fill_fields(PyObject* self, PyObject* pDictColsDePara, PyObject* pJsonDados) {
  form::Items fields(pDictColsDePara);
  while (fields.next()) {
    PyObject* dbCampo = fields.key();
    PyObject* webConfig = fields.value();
    Ref dbDado = call_method(pJsonDados, N->get.get(), dbCampo);
    if (is_section_key(dbCampo)) {
      if (debug_on())
        log_info(message("VexoControleApex -> fCtPreencTodoForm -> Campo especial ", dbCampo,
                         " encontrado, saindo do loop principal para processar grid"));
      break;
    }
    form::set_item(webConfig, ZV_STR("ColNome"), dbCampo);
    if (debug_on())
      log_debug(message("VexoControleApex -> fCtPreencTodoForm -> dbCampo ", dbCampo, ", ", dbDado,
                        " -> ", dbDado, ";  WebConfig -> ", webConfig));
    Ref dispatch = module_get(N->fCtApexIdentTipoCampoPreenc.get());
    ev::Span field = ev::field(ev::section_form(), nullptr, dbCampo, webConfig);
    ZV_AWAIT_WITHIN(field, call(dispatch.get(), page_of(self).get(), webConfig, dbDado.get()));
  }
  co_return none();
}

}  // namespace

Task<Ref> m_fCtPreencUmCampo(Call c) {
  PyObject* self = c.arg(0);
  PyObject* config = c.arg(1);
  PyObject* pValue = c.arg(2);
  if (debug_on()) {
    Ref colNome = form::item(config, ZV_STR("ColNome"));
    Ref colTipo = form::item(config, ZV_STR("ColTipo"));
    log_info(message("VexoControleApex -> fCtPreencUmCampo -> Preenchendo campo ", colNome, " (",
                     colTipo, ") -> ", pValue));
  }
  Ref dispatch = module_get(N->fCtApexIdentTipoCampoPreenc.get());
  co_await call(dispatch.get(), page_of(self).get(), config, pValue);
  co_return none();
}

Task<Ref> m_fCtPreencTodoForm(Call c) {
  PyObject* self = c.arg(0);
  PyObject* pDictColsDePara = c.arg(1);
  PyObject* pJsonDados = c.arg(2);

  if (debug_on()) form::log_received(pDictColsDePara, pJsonDados, "----------------------------------");

  // Simple fields, in the mapping's order, up to the first section key.
  {
    ev::Span section = ev::Span::open("secao_inicio", "secao_fim", "secao_fim",
                                      ev::Field{"secao", ev::section_form()});
    ZV_AWAIT_WITHIN(section, fill_fields(self, pDictColsDePara, pJsonDados));
  }

  // Sections, in a fixed order; each needs records in the data and its own mapping.
  const SectionNames& names = section_names();
  for (std::size_t i = 0; i < kSectionCount; ++i) {
    if (kSections[i].needs_rep_flag) {
      Ref flag = form::item(pJsonDados, ZV_STR("RepAtivarPreenc"));
      if (!py_equal(flag.get(), N->one.get())) continue;
    }
    PyObject* key = names.key[i];
    if (!form::has(pJsonDados, key)) continue;
    if (!truthy(form::item(pJsonDados, key).get())) continue;
    if (debug_on()) log_info(Ref::borrow(names.log_line[i]));
    if (!form::has(pDictColsDePara, key)) continue;
    Ref fill = getattr(self, names.method[i]);
    Ref sectionConfig = form::item(pDictColsDePara, key);
    Ref sectionData = form::item(pJsonDados, key);
    ev::Span section = ev::Span::open("secao_inicio", "secao_fim", "secao_fim", ev::Field{"secao", key});
    ZV_AWAIT_WITHIN(section, call(fill.get(), sectionConfig.get(), sectionData.get()));
  }
  co_return none();
}

}  // namespace zv::vc
