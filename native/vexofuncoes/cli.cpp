// The block run when the logging module executes as the main program: six optional
// settings from the command line, what was decided printed on standard output, and the
// logger those settings describe built once.
#include "vexofuncoes/funcoes.hpp"

namespace zv::vf {
namespace {

void print(const Ref& line) {
  static PyObject* builtins = PyImport_ImportModule("builtins");
  if (!builtins) throw_current();
  call_method(builtins, ZF_STR("print"), line.get());
}

void print(const char* line) { print(text(line)); }

void set(PyObject* g, PyObject* name, PyObject* value) { check(PyDict_SetItem(g, name, value)); }

Py_ssize_t length(PyObject* o) {
  Py_ssize_t n = PyObject_Length(o);
  if (n < 0) throw_current();
  return n;
}

Ref without_quotes(PyObject* s) { return call_method(s, ZF_STR("strip"), ZF_STR("\"")); }

// Converts and stores the six settings in order; a text that is not an integer stops the
// conversion there, leaving that setting and the ones after it as they were.
void convert(PyObject* g, PyObject* args) {
  auto arg = [&](Py_ssize_t i) { return check(PySequence_GetItem(args, i)); };
  auto as_int = [&](Py_ssize_t i) { return check(PyNumber_Long(arg(i).get())); };
  try {
    set(g, ZF_STR("pSiLog"), as_int(0).get());
    set(g, ZF_STR("pSiLogTipo"), as_int(1).get());
    set(g, ZF_STR("pSiLogPrefixo"), without_quotes(arg(2).get()).get());
    set(g, ZF_STR("pArqLogNome"), without_quotes(arg(3).get()).get());
    set(g, ZF_STR("pArqLogMaxBytes"), as_int(4).get());
    set(g, ZF_STR("pArqLogQtd"), as_int(5).get());
  } catch (PyError& e) {
    Ref exc = e.take();
    if (!PyErr_GivenExceptionMatches(exc.get(), PyExc_ValueError)) throw_exception(exc.release());
    print(message("__name__. Erro ao converter parametro: ", exc));
    print("__name__. Usando valores padrao");
  }
}

}  // namespace

void command_line(PyObject* g) {
  Ref two = check(PyLong_FromLong(2));
  Ref three = check(PyLong_FromLong(3));
  Ref maxBytes = check(PyLong_FromLong(500000));
  set(g, ZF_STR("pSiLog"), two.get());
  set(g, ZF_STR("pSiLogTipo"), three.get());
  set(g, ZF_STR("pSiLogPrefixo"), text("Tavoric/Main").get());
  set(g, ZF_STR("pArqLogNome"), text("tavoric.log").get());
  set(g, ZF_STR("pArqLogMaxBytes"), maxBytes.get());
  set(g, ZF_STR("pArqLogQtd"), two.get());

  Ref sys = global(g, ZF_STR("sys"));
  Ref argv = getattr(sys.get(), ZF_STR("argv"));
  Py_ssize_t argc = length(argv.get());
  if (argc < 2) {
    print("__name__. Nenhum parametro informado. Usar valor padrao:");
    print(message("            pSiLog         = ", global(g, ZF_STR("pSiLog"))));
    print(message("            pSiLogTipo     = ", global(g, ZF_STR("pSiLogTipo"))));
    print(message("            pSiLogPrefixo  = ", global(g, ZF_STR("pSiLogPrefixo"))));
    print(message("            pArqLogNome    = ", global(g, ZF_STR("pArqLogNome"))));
  } else {
    Ref args = check(PySequence_GetSlice(argv.get(), 1, argc));
    set(g, ZF_STR("args"), args.get());
    if (length(args.get()) != 6) {
      print("__name__. AVISO: Quantidade parametros incorretao. Usar valor padrao.");
      print("__name__. Uso correto:");
      print("            python src\\vexofuncoes <pSiLog> <pSiLogTipo> <pSiLogPrefixo> "
            "<pArqLogNome> <pArqLogMaxBytes> <pArqLogQtd>");
      print("            Exemplo: python src\\vexofuncoes 2 3 \"TESTE/Main\" \"teste.log\" 500000 2");
    } else {
      convert(g, args.get());
    }
  }

  // objfLog = VexoFuncoes.fLog(pSiLog=..., ..., pArqLogQtd=..., pDebugDev=True)
  Ref factory = global(g, ZF_STR("VexoFuncoes"));
  Ref fLog = getattr(factory.get(), ZF_STR("fLog"));
  static PyObject* kw = Py_BuildValue("(sssssss)", "pSiLog", "pSiLogTipo", "pSiLogPrefixo",
                                      "pArqLogNome", "pArqLogMaxBytes", "pArqLogQtd", "pDebugDev");
  if (!kw) throw_current();
  Ref objfLog = call_kw(fLog.get(), 0, kw, global(g, ZF_STR("pSiLog")).get(),
                        global(g, ZF_STR("pSiLogTipo")).get(), global(g, ZF_STR("pSiLogPrefixo")).get(),
                        global(g, ZF_STR("pArqLogNome")).get(), global(g, ZF_STR("pArqLogMaxBytes")).get(),
                        global(g, ZF_STR("pArqLogQtd")).get(), Py_True);
  set(g, ZF_STR("objfLog"), objfLog.get());
}

}  // namespace zv::vf
