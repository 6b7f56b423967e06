#pragma once

#include <pybind11/pybind11.h>

namespace tonbrix::python {

// The functions of the module that process sound files through the
// library's batches: each job in a forked worker process, so that a plugin
// that crashes costs only its job.
void define_file_batch(pybind11::module_& module);

} // namespace tonbrix::python
