#pragma once

#include <pybind11/pybind11.h>

namespace tonbrix::python {

// The World class: the plugin list, plugin descriptions and presets as
// plain Python data, the same as the command line's --list, --info and
// --list-presets with --json.
void define_knowledge(pybind11::module_& module);

} // namespace tonbrix::python
