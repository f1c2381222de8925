// The logging module's pieces: the logger factory body and the command-line block, both
// working on the module's globals (read at each use, so a test or the command line can
// repoint __file__, sys or logging).
#pragma once
#include "pyasync/coro.hpp"
#include "pyasync/py.hpp"

namespace zv::vf {

// An interned str made once and kept for the life of the process (the shared library may
// serve two modules of one process: the importable one and the one run as the main program).
PyObject* intern_text(const char* s);
#define ZF_STR(lit) ([]() -> PyObject* { static PyObject* zf_s = ::zv::vf::intern_text(lit); return zf_s; }())

// globals[name], raising NameError as Python does when it is missing.
Ref global(PyObject* globals, PyObject* name);

// VexoFuncoes.fLog: the closure is the module's dict; argument 0 is the class.
Ref fLog(Call c);

// The block run when the module executes as the main program.
void command_line(PyObject* globals);

}  // namespace zv::vf
