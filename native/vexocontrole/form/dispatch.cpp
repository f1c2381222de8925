// Not built yet: replaced when this family lands.
#include "bodies.hpp"

namespace zv::vc {

Task<Ref> fCtApexIdentTipoCampoPreenc(Call c) { return not_yet(c); }

}  // namespace zv::vc
