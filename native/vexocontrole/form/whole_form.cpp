// Not built yet: replaced when this family lands.
#include "bodies.hpp"

namespace zv::vc {

Task<Ref> m_fCtPreencUmCampo(Call c) { return not_yet(c); }
Task<Ref> m_fCtPreencTodoForm(Call c) { return not_yet(c); }

}  // namespace zv::vc
