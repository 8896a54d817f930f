// The tiko module: the player over NumPy frames, the project's eye detector
// and reporter, and the package tools of the tiko program.
#include "python/module.h"

#include "host/files.h"
#include "host/packages/errors.h"

namespace tiko::python {
namespace {

// Every failure of the library and its tools is one tiko.Error with the
// message the command line prints; bad arguments are Python's own
// TypeError and ValueError.
void AddErrors(py::module_& m) {
  static py::handle error = py::exception<Failure>(m, "Error", PyExc_RuntimeError).release();
  py::register_exception_translator([](std::exception_ptr raised) {
    try {
      if (raised) std::rethrow_exception(raised);
    } catch (const Failure& e) {
      PyErr_SetString(error.ptr(), e.what());
    } catch (const packages::Error& e) {
      PyErr_SetString(error.ptr(), e.what());
    } catch (const host::FileError& e) {
      PyErr_SetString(error.ptr(), e.what());
    }
  });
}

}  // namespace
}  // namespace tiko::python

PYBIND11_MODULE(tiko, m) {
  namespace python = tiko::python;
  m.doc() = "tiko: animated picture overlays for video frames, and the tools to make them";
#ifdef TIKO_PYTHON_VERSION
  m.attr("__version__") = TIKO_PYTHON_VERSION;
#endif
  python::AddErrors(m);
  python::AddPlayer(m);
  python::AddPackages(m);
#if TIKO_PYTHON_EYES
  python::AddEyes(m);
  m.attr("has_eyes") = true;
#else
  m.attr("has_eyes") = false;
#endif
}
