// The bodies behind the module's function table and the controller's methods, by family.
#pragma once
#include "state.hpp"

namespace zv::vc {

// notices.cpp
Task<Ref> fCtPopUpWindows(Call c);
Task<Ref> fCtPopUpHtml(Call c);

// fills/retry.cpp
Task<Ref> fCtRetry(Call c);
// fills/text.cpp
Task<Ref> fCtPreencText(Call c);
Task<Ref> fCtPreencTextArea(Call c);
Task<Ref> fCtPreencAutoComplete(Call c);
// fills/choice.cpp (radio and check box)
Task<Ref> fCtPreencCheckRadio(Call c);
Task<Ref> fCtPreencCheckMultiple(Call c);
// fills/toggle.cpp (switch and single check box)
Task<Ref> fCtPreencSwitch(Call c);
Task<Ref> fCtPreencCheckbox(Call c);
// fills/date.cpp
Task<Ref> fCtPreencDatepicker(Call c);
// fills/select.cpp
Task<Ref> fCtApexPreencDropDownList(Call c);
Task<Ref> fCtApexPreencMultiSelect(Call c);
// fills/idle.cpp
Task<Ref> fCtApexWaitStable(Call c);
// fills/lov_desc.cpp
Task<Ref> fCtApexPreencPopupLovDesc(Call c);
// fills/lov_id.cpp
Task<Ref> fCtApexPreencPopupLovId(Call c);

// form/dispatch.cpp
Task<Ref> fCtApexIdentTipoCampoPreenc(Call c);

// form/controller.cpp
Ref controller_init(Call c);
// form/delegates.cpp: the controller's methods that forward to a module function
Task<Ref> m_fCtApexWaitStable(Call c);
Task<Ref> m_fCtApexPreencDropDownList(Call c);
Task<Ref> m_fCtApexPreencPopupLovDesc(Call c);
Task<Ref> m_fCtApexPreencPopupLovId(Call c);
Task<Ref> m_fCtApexPreencMultiSelect(Call c);
Task<Ref> m_fCtPopUpHtml(Call c);
Task<Ref> m_fCtPreencText(Call c);
Task<Ref> m_fCtPreencCheckRadio(Call c);
Task<Ref> m_fCtPreencCheckMultiple(Call c);
Task<Ref> m_fCtPreencTextArea(Call c);
Task<Ref> m_fCtPreencDatepicker(Call c);
Task<Ref> m_fCtPreencAutoComplete(Call c);
Task<Ref> m_fCtPreencSwitch(Call c);
Task<Ref> m_fCtPreencCheckbox(Call c);
// form/whole_form.cpp
Task<Ref> m_fCtPreencUmCampo(Call c);
Task<Ref> m_fCtPreencTodoForm(Call c);
// form/grid.cpp
Task<Ref> m_fPreencGridTitular(Call c);
Task<Ref> m_fPreencGridBeneficiario(Call c);
// form/repres.cpp
Task<Ref> m_fCtApexPreencRepres(Call c);

// Placeholder body for a function whose family has not landed yet: raises
// NotImplementedError when awaited.
Task<Ref> not_yet(Call c);

}  // namespace zv::vc
