// Module vexoconferencia: its function table and set-up. Loading it loads
// ziveviver.vexocontrole (bound here as `vexocontrole`) and points the compiled-in module
// state at that module's globals.
#include "conferencia.hpp"

namespace zv::vc::cf {
namespace {

constexpr const char kCheck[] = "pPage, pDictColsDePara, pJsonDados";

const FuncSpec kFunctions[] = {
    {"fCtVerificarMapa", nullptr, kCheck,
     "\n    Verificar, antes do preenchimento, se o mapa serve a pagina e aos dados.\n"
     "        Nao altera a pagina nem os dicionarios; devolve uma lista de achados\n"
     "        {secao, coluna, seletor, tipo, veredito, mensagem}, veredito ok, aviso ou erro.\n    ",
     fCtVerificarMapa, nullptr, nullptr},
    {"fCtConferirForm", nullptr, kCheck,
     "\n    Conferir, depois do preenchimento, o que ficou na pagina campo a campo.\n"
     "        Devolve uma linha por campo e por celula das grelhas\n"
     "        {secao, coluna, linha, seletor, tipo, estado, esperado, obtido, exibido}, estado\n"
     "        igual, vazio, diferente, nao_encontrado ou nao_conferido.\n    ",
     fCtConferirForm, nullptr, nullptr},
    {"fCtMapearPagina", nullptr, "pPage, pEspera=10000",
     "\n    Ler da pagina os seus itens e escrever o mapa (e um modelo dos dados).\n"
     "        Espera (no maximo pEspera ms) que a pagina fique pronta; nao a altera. Devolve\n"
     "        {mapa, dados, itens, grelhas, pagina, problema}.\n    ",
     fCtMapearPagina, nullptr, nullptr},
    {"fCtAtivarGuarda", nullptr, "pPage",
     "\n    Reter os pedidos que submeteriam a pagina enquanto o preenchimento corre.\n"
     "        Devolve a lista (viva) dos pedidos retidos.\n    ",
     fCtAtivarGuarda, nullptr, nullptr},
    {"fCtDesativarGuarda", nullptr, "pPage",
     "\n    Levantar a guarda antes de entregar o formulario ao utilizador.\n"
     "        Devolve a lista dos pedidos retidos.\n    ",
     fCtDesativarGuarda, nullptr, nullptr},
};

const FuncSpec kHandler = {"fCtGuardaPedido", "fCtAtivarGuarda.<locals>.fCtGuardaPedido", "route, request",
                           nullptr, guard_handler, nullptr, nullptr};

int exec_module(PyObject* module) {
  if (!init_types()) return -1;
  PyObject* d = PyModule_GetDict(module);  // borrowed
  try {
    Ref modname = Ref::borrow(PyDict_GetItemString(d, "__name__"));
    if (!modname) raise_new(PyExc_ImportError, text("vexoconferencia: module without __name__"));
    // from . import vexocontrole
    Ref fromlist = check(Py_BuildValue("(s)", "vexocontrole"));
    Ref package = check(PyImport_ImportModuleLevel("", d, nullptr, fromlist.get(), 1));
    Ref controle = check(PyObject_GetAttrString(package.get(), "vexocontrole"));
    if (!init_state(PyModule_GetDict(controle.get()))) throw_current();
    check(PyDict_SetItemString(d, "vexocontrole", controle.get()));

    if (!C) {
      C = new Names();
      C->route = name("route");
      C->unroute = name("unroute");
      C->abort = name("abort");
      C->fallback = name("fallback");
      C->method = name("method");
      C->url = name("url");
      C->is_navigation_request = name("is_navigation_request");
      C->post_data_json = name("post_data_json");
      C->is_closed = name("is_closed");
      C->pattern_all = text("**/*");
      C->aborted = text("aborted");
      Ref weakref = check(PyImport_ImportModule("weakref"));
      C->registry = check(PyObject_CallMethod(weakref.get(), "WeakKeyDictionary", nullptr));
    }
    C->modname = modname;
    if (!C->handler_proto) {
      C->handler_proto = make_function(&kHandler, modname.get(), nullptr);
      if (!C->handler_proto) throw_current();
    }
    if (!add_functions(d, kFunctions, std::size(kFunctions), modname.get(), nullptr)) throw_current();
    return 0;
  } catch (...) {
    set_error_from(std::current_exception());
    return -1;
  }
}

PyModuleDef_Slot kSlots[] = {{Py_mod_exec, reinterpret_cast<void*>(exec_module)}, {0, nullptr}};

PyModuleDef kModule = {PyModuleDef_HEAD_INIT, "vexoconferencia",
                       "Pre-flight check of a mapping, receipt of a fill and the never-submit guard.", 0,
                       nullptr, kSlots, nullptr, nullptr, nullptr};

}  // namespace
}  // namespace zv::vc::cf

PyMODINIT_FUNC PyInit_vexoconferencia() { return PyModuleDef_Init(&zv::vc::cf::kModule); }
