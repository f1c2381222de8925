// VexoFuncoes.fLog: the silent logger, or a named logger writing to the console, to a
// size-rotated file under Logs, or both, built once per name and cached on the class.
#include "vexofuncoes/funcoes.hpp"

namespace zv::vf {

PyObject* intern_text(const char* s) {
  PyObject* o = PyUnicode_InternFromString(s);
  if (!o) throw_current();
  return o;  // kept for the life of the process
}

Ref global(PyObject* globals, PyObject* name) {
  PyObject* v = PyDict_GetItemWithError(globals, name);  // borrowed
  if (v) return Ref::borrow(v);
  if (!PyErr_Occurred()) PyErr_Format(PyExc_NameError, "name '%U' is not defined", name);
  throw_current();
}

namespace {

constexpr const char kQualname[] = "VexoFuncoes.fLog";

[[noreturn]] void bad_argument(PyObject* v, const char* param, const char* expected) {
  PyErr_Format(PyExc_TypeError, "%s() argument '%s' must be %s, not %s", kQualname, param, expected,
               v == Py_None ? "None" : compat::TypeName(v).c_str());
  throw_current();
}

// An integer parameter: an int as it is, any other number through int(), anything else refused.
Ref as_int(PyObject* v, const char* param) {
  if (PyLong_CheckExact(v)) return Ref::borrow(v);
  if (PyNumber_Check(v)) return check(PyNumber_Long(v));
  bad_argument(v, param, "int");
}

// A text parameter: exactly a str.
PyObject* as_str(PyObject* v, const char* param) {
  if (!PyUnicode_CheckExact(v)) bad_argument(v, param, "str");
  return v;
}

bool equals(PyObject* n, long long v) {
  int overflow = 0;
  long long x = PyLong_AsLongLongAndOverflow(n, &overflow);
  if (x == -1 && PyErr_Occurred()) throw_current();
  return !overflow && x == v;
}

Ref concat(PyObject* a, PyObject* b) { return check(PyUnicode_Concat(a, b)); }

// Every logger handed out for output that must go nowhere is one logger per class:
// "null_" followed by the class's identity number.
Ref silent_logger(PyObject* cls, PyObject* logging) {
  Ref id = check(PyLong_FromVoidPtr(cls));
  Ref idText = str(id.get());
  Ref loggerName = concat(ZF_STR("null_"), idText.get());
  Ref null_logger = call_method(logging, ZF_STR("getLogger"), loggerName.get());
  Ref handlers = getattr(null_logger.get(), ZF_STR("handlers"));
  if (!truthy(handlers.get())) {
    Ref nullHandlerType = getattr(logging, ZF_STR("NullHandler"));
    Ref handler = call(nullHandlerType.get());
    call_method(null_logger.get(), ZF_STR("addHandler"), handler.get());
  }
  check(PyObject_SetAttr(null_logger.get(), ZF_STR("propagate"), Py_False));
  return null_logger;
}

// The line layout. The prefix is data, not layout: its percent signs are doubled so that the
// formatter prints them as they are instead of reading them as fields.
Ref line_format(PyObject* prefix) {
  Ref escaped = check(PyUnicode_Replace(prefix, ZF_STR("%"), ZF_STR("%%"), -1));
  Ref head = concat(ZF_STR("["), escaped.get());
  return concat(head.get(), ZF_STR("] [%(asctime)s] [%(levelname)s] %(message)s"));
}

// getattr(o, name, None)
Ref optional_attr(PyObject* o, PyObject* name) {
  PyObject* v = PyObject_GetAttr(o, name);
  if (v) return Ref::steal(v);
  if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw_current();
  PyErr_Clear();
  return Ref();
}

// The directory the Logs folder goes into: beside the executable when running frozen,
// beside this module's file otherwise.
Ref base_path(PyObject* g, PyObject* os) {
  Ref sys = global(g, ZF_STR("sys"));
  Ref path = getattr(os, ZF_STR("path"));
  Ref frozen = optional_attr(sys.get(), ZF_STR("frozen"));
  if (frozen && truthy(frozen.get())) {
    Ref executable = getattr(sys.get(), ZF_STR("executable"));
    return call_method(path.get(), ZF_STR("dirname"), executable.get());
  }
  Ref file = global(g, ZF_STR("__file__"));
  Ref absolute = call_method(path.get(), ZF_STR("abspath"), file.get());
  return call_method(path.get(), ZF_STR("dirname"), absolute.get());
}

void add_handler(PyObject* logger, PyObject* handler, PyObject* level, PyObject* formatter) {
  call_method(handler, ZF_STR("setLevel"), level);
  call_method(handler, ZF_STR("setFormatter"), formatter);
  call_method(logger, ZF_STR("addHandler"), handler);
}

}  // namespace

Ref fLog(Call c) {
  PyObject* g = c.closure;
  PyObject* cls = c.arg(0);
  Ref pSiLog = as_int(c.arg(1), "pSiLog");
  Ref pSiLogTipo = as_int(c.arg(2), "pSiLogTipo");
  PyObject* pSiLogPrefixo = as_str(c.arg(3), "pSiLogPrefixo");
  PyObject* pArqLogNome = as_str(c.arg(4), "pArqLogNome");
  Ref pArqLogMaxBytes = as_int(c.arg(5), "pArqLogMaxBytes");
  Ref pArqLogQtd = as_int(c.arg(6), "pArqLogQtd");
  PyObject* pDebugDev = c.arg(7);

  Ref logging = global(g, ZF_STR("logging"));
  if (!truthy(pDebugDev) || !equals(pSiLog.get(), 2)) return silent_logger(cls, logging.get());

  // <module name>.<prefix or no_prefix>.<file name>
  Ref modname = global(g, ZF_STR("__name__"));
  Ref logger_name = concat(modname.get(), ZF_STR("."));
  logger_name = concat(logger_name.get(),
                       PyUnicode_GET_LENGTH(pSiLogPrefixo) ? pSiLogPrefixo : ZF_STR("no_prefix"));
  logger_name = concat(logger_name.get(), ZF_STR("."));
  logger_name = concat(logger_name.get(), pArqLogNome);

  Ref cache = getattr(cls, ZF_STR("_logger_cache"));
  if (check(PySequence_Contains(cache.get(), logger_name.get())))
    return check(PyObject_GetItem(cache.get(), logger_name.get()));

  Ref objLogger = call_method(logging.get(), ZF_STR("getLogger"), logger_name.get());
  check(PyObject_SetAttr(objLogger.get(), ZF_STR("propagate"), Py_False));
  Ref handlers = getattr(objLogger.get(), ZF_STR("handlers"));
  call_method(handlers.get(), ZF_STR("clear"));
  Ref debug = getattr(logging.get(), ZF_STR("DEBUG"));
  call_method(objLogger.get(), ZF_STR("setLevel"), debug.get());

  Ref formatterType = getattr(logging.get(), ZF_STR("Formatter"));
  Ref fmt = line_format(pSiLogPrefixo);
  Ref formatter = call(formatterType.get(), fmt.get(), ZF_STR("%Y-%m-%d %H:%M:%S"));

  Ref os = global(g, ZF_STR("os"));
  Ref path = getattr(os.get(), ZF_STR("path"));
  Ref base = base_path(g, os.get());
  Ref logs_path = call_method(path.get(), ZF_STR("join"), base.get(), ZF_STR("Logs"));
  static PyObject* kw_exist_ok = Py_BuildValue("(s)", "exist_ok");
  if (!kw_exist_ok) throw_current();
  call_method_kw(os.get(), ZF_STR("makedirs"), 1, kw_exist_ok, logs_path.get(), Py_True);
  Ref log_file_path = call_method(path.get(), ZF_STR("join"), logs_path.get(), pArqLogNome);

  Ref info = getattr(logging.get(), ZF_STR("INFO"));
  if (equals(pSiLogTipo.get(), 1) || equals(pSiLogTipo.get(), 3)) {
    Ref streamHandlerType = getattr(logging.get(), ZF_STR("StreamHandler"));
    Ref console_handler = call(streamHandlerType.get());
    add_handler(objLogger.get(), console_handler.get(), info.get(), formatter.get());
  }
  if (equals(pSiLogTipo.get(), 2) || equals(pSiLogTipo.get(), 3)) {
    Ref rotating = global(g, ZF_STR("RotatingFileHandler"));
    static PyObject* kw_file = Py_BuildValue("(ssss)", "mode", "maxBytes", "backupCount", "encoding");
    if (!kw_file) throw_current();
    Ref file_handler = call_kw(rotating.get(), 1, kw_file, log_file_path.get(), ZF_STR("a"),
                               pArqLogMaxBytes.get(), pArqLogQtd.get(), ZF_STR("utf-8"));
    add_handler(objLogger.get(), file_handler.get(), info.get(), formatter.get());
  }

  check(PyObject_SetItem(cache.get(), logger_name.get(), objLogger.get()));
  return objLogger;
}

}  // namespace zv::vf
