// VexoControleApex.__init__: binds the page, sets the module's debug flag and logger.
#include "bodies.hpp"

namespace zv::vc {

Ref controller_init(Call c) {
  PyObject* self = c.arg(0);
  PyObject* page = c.arg(1);
  check(PyObject_SetAttr(self, N->page.get(), page));
  PyObject* flag = truthy(c.arg(2)) ? Py_True : Py_False;
  module_set(N->gDebugDev.get(), flag);

  Ref factory = module_get(N->VexoFuncoes.get());
  Ref fLog = getattr(factory.get(), N->fLog.get());
  Ref prefix = text("VexoControleApex");
  Ref file = text("MorvelPy_Dev.log");
  Ref maxBytes = integer(500000);
  Ref two = integer(2);
  Ref logger = call_kw(fLog.get(), 0, N->kw_flog.get(), two.get(), two.get(), prefix.get(),
                       file.get(), maxBytes.get(), N->one.get(), flag);
  module_set(N->objfLog.get(), logger.get());

  if (debug_on()) {
    log_info(text("---------------------------------------------------- VexoControleApex -> Inicio "
                  "----------------------------------------------------"));
    log_info(message("VexoControleApex -> pDebugDev ", flag));
  }
  return none();
}

}  // namespace zv::vc
