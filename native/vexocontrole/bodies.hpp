// The bodies behind the module's function table and the controller's methods.
#pragma once
#include "state.hpp"

namespace zv::vc {

// fills/
Task<Ref> fCtRetry(Call c);
Task<Ref> fCtPreencText(Call c);
Task<Ref> fCtPreencTextArea(Call c);
Task<Ref> fCtPreencAutoComplete(Call c);

// form/
Ref controller_init(Call c);

}  // namespace zv::vc
