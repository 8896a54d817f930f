// The parts of the tiko Python module, each adding its names to the module.
#pragma once

#include <pybind11/pybind11.h>

#include <stdexcept>

namespace tiko::python {

namespace py = pybind11;

// A failure of the player or of the package tools, raised in Python as
// tiko.Error with the message as it stands.
class Failure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

void AddPlayer(py::module_& m);
void AddPackages(py::module_& m);
// tiko.EyeDetector, tiko.EyeReporter and tiko.detect_eyes, in builds with
// the eye library.
void AddEyes(py::module_& m);

}  // namespace tiko::python
