#include "errors.h"
#include "knowledge.h"

#include <pybind11/pybind11.h>

namespace py = pybind11;

PYBIND11_MODULE(_tonbrix, module)
{
    module.doc() = "The native part of the tonbrix package; use it through `import tonbrix`.";
    tonbrix::python::define_errors(module);
    tonbrix::python::define_knowledge(module);
}
