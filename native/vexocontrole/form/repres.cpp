// The representative's items: ordinary page items filled one by one through the type
// dispatch, from one record. Nothing is caught here but to tell an observer how a field ended.
#include "bodies.hpp"
#include "events.hpp"
#include "mapping.hpp"

namespace zv::vc {

Task<Ref> m_fCtApexPreencRepres(Call c) {
  PyObject* self = c.arg(0);
  PyObject* pDictColsDePara = c.arg(1);
  PyObject* pJsonDados = c.arg(2);

  if (debug_on()) form::log_received(pDictColsDePara, pJsonDados, "-------------------------------");

  form::Items fields(pDictColsDePara);
  while (fields.next()) {
    PyObject* dbCampo = fields.key();
    PyObject* webConfig = fields.value();
    Ref dbCampoValue = call_method(pJsonDados, N->get.get(), dbCampo);
    form::set_item(webConfig, ZV_STR("ColNome"), dbCampo);
    // This trace line has always carried the beneficiaries routine's prefix; it keeps it.
    if (debug_on())
      log_debug(message("VexoControleApex -> fPreencGridBeneficiario -> Repres -> dbCampo: ", dbCampo,
                        ", Valor: ", dbCampoValue, " -> WebConfig: ", webConfig));
    Ref dispatch = module_get(N->fCtApexIdentTipoCampoPreenc.get());
    Ref page = getattr(self, N->page.get());
    ev::Span field = ev::field(ev::section_representatives(), nullptr, dbCampo, webConfig);
    ZV_AWAIT_WITHIN(field, call(dispatch.get(), page.get(), webConfig, dbCampoValue.get()));
  }
  co_return none();
}

}  // namespace zv::vc
