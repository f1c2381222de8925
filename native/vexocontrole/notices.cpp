// The end-of-run notices: a desktop message box, and an overlay injected into the page
// that holds the caller until the user dismisses it.
#include "bodies.hpp"
#include "page.hpp"

namespace zv::vc {

namespace {

constexpr const char kBoxText[] = "Execucao terminada. Tecle em OK ou feche esta janela.";
constexpr const char kBoxCaption[] = "Finalizado";

// The message shown when the caller gives none: markup, its lines laid out as written.
constexpr const char kDefaultMsg[] =
    "O formulário Dera foi pré-preenchido e encontra-se pronto para submissão.<br>"
    "\n                   "
    "Para submeter o formulário deve confirmar os dados e depois pressionar o botão enviar.<br><br>"
    "\n                   "
    "Após fechar esta janela de diálogo o navegador permanecerá aberto durante 10 minutes para "
    "que possa proceder às ações acima mencionadas.<br>"
    "\n                   "
    "Caso não haja interação com o navegador o mesmo fechará e a informação pré-preenchida será "
    "perdida."
    "\n        ";

Ref import_module(const char* m) { return check(PyImport_ImportModule(m)); }
Ref attr(PyObject* o, const char* n) { return check(PyObject_GetAttrString(o, n)); }

// os.environ.get(key) is a non-empty text (not named environ: a macro in Windows C runtimes)
bool env_has(PyObject* os_environ, const char* key) {
  Ref k = text(key);
  Ref get = attr(os_environ, "get");
  Ref v = call(get.get(), k.get());
  return truthy(v.get());
}

// ctypes.windll.user32.MessageBoxW(0, text, caption, 0), through the module's ctypes as it
// is bound now. The box is modal: the call returns when the user closes it.
void windows_box() {
  Ref ctypes = module_get(N->ctypes.get());
  Ref windll = attr(ctypes.get(), "windll");
  Ref user32 = attr(windll.get(), "user32");
  Ref box = attr(user32.get(), "MessageBoxW");
  call(box.get(), N->zero.get(), ZV_STR(kBoxText), ZV_STR(kBoxCaption), N->zero.get());
}

// The same box on a free desktop: zenity (or kdialog) as a child process, waited for, so
// the caller is held until the user closes it, as with the Windows box.
void desktop_box() {
  Ref os = import_module("os");
  Ref os_environ = attr(os.get(), "environ");
  if (!env_has(os_environ.get(), "DISPLAY") && !env_has(os_environ.get(), "WAYLAND_DISPLAY"))
    raise_new(PyExc_RuntimeError,
              text("fCtPopUpWindows -> Nenhum ambiente grafico disponivel (DISPLAY e "
                   "WAYLAND_DISPLAY nao definidos): impossivel mostrar a janela de aviso"));

  Ref shutil = import_module("shutil");
  Ref which = attr(shutil.get(), "which");
  Ref program;
  Ref argv;
  Ref found = call(which.get(), text("zenity").get());
  if (found.get() != Py_None) {
    program = text("zenity");
    Ref title = message("--title=", kBoxCaption);
    Ref body = message("--text=", kBoxText);
    argv = check(Py_BuildValue("[OssOO]", found.get(), "--info", "--no-markup", title.get(),
                               body.get()));
  } else {
    found = call(which.get(), text("kdialog").get());
    if (found.get() == Py_None)
      raise_new(PyExc_RuntimeError,
                text("fCtPopUpWindows -> Nenhum programa de dialogo instalado (zenity ou "
                     "kdialog): impossivel mostrar a janela de aviso"));
    program = text("kdialog");
    argv = check(Py_BuildValue("[Ossss]", found.get(), "--title", kBoxCaption, "--msgbox",
                               kBoxText));
  }

  // zenity answers a close from the window manager with its "Esc" code (1 by default, the
  // same as a display it cannot open); closing is the user's answer, like OK.
  Ref env = check(PyDict_New());
  check(PyDict_Update(env.get(), os_environ.get()));
  check(PyDict_SetItemString(env.get(), "ZENITY_ESC", text("0").get()));

  Ref subprocess = import_module("subprocess");
  Ref run = attr(subprocess.get(), "run");
  Ref devnull = attr(subprocess.get(), "DEVNULL");
  Ref pipe = attr(subprocess.get(), "PIPE");
  Ref kw = check(Py_BuildValue("(ssss)", "env", "stdin", "stdout", "stderr"));
  Ref done = call_kw(run.get(), 1, kw.get(), argv.get(), env.get(), devnull.get(), devnull.get(),
                     pipe.get());

  Ref rc = attr(done.get(), "returncode");
  if (py_equal(rc.get(), N->zero.get())) return;
  Ref err = attr(done.get(), "stderr");
  Ref errText = call_method(err.get(), name("decode").get(), text("utf-8").get(),
                            text("replace").get());
  Ref errTrim = call_method(errText.get(), N->strip.get());
  raise_new(PyExc_RuntimeError, message("fCtPopUpWindows -> Falha ao mostrar a janela de aviso (",
                                        program, " terminou com codigo ", rc, "): ", errTrim));
}

}  // namespace

Task<Ref> fCtPopUpWindows(Call) {
  Ref sys = module_get(N->sys.get());
  Ref platform = attr(sys.get(), "platform");
  if (py_equal(platform.get(), ZV_STR("win32")))
    windows_box();
  else
    desktop_box();
  if (debug_on()) log_info(text("fCtPopUpWindows -> Usuario fechou janela. Continuar execucao..."));
  co_return none();
}

Task<Ref> fCtPopUpHtml(Call c) {
  PyObject* pPage = c.arg(0);
  PyObject* pMsg = c.arg(1);
  PyObject* pTituloBotao = c.arg(2);
  if (debug_on()) log_info(text("fCtPopUpHtml -> Injetar modal na pagina..."));
  if (py_equal(pTituloBotao, ZV_STR(""))) pTituloBotao = ZV_STR("Enviar");
  if (py_equal(pMsg, ZV_STR(""))) pMsg = ZV_STR(kDefaultMsg);

  // The texts travel as the script's argument, never as part of its source.
  Ref msgText = str(pMsg);
  Ref caption = str(pTituloBotao);
  co_await pg::evaluate(pPage, ZV_SCRIPT(modal_show), pg::list(msgText.get(), caption.get()).get());

  try {
    co_await pg::wait_for_selector(pPage, ZV_STR("#final-modal-overlay"), N->hidden.get(),
                                   N->zero.get());
  } catch (PyError& e) {
    log_error(message("fCtPopUpHtml -> Erro ou navegador fechado durante modal: ", e.get()));
  }
  co_return none();
}

}  // namespace zv::vc
