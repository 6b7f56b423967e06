#include "errors.h"

#include <exception>
#include <utility>

namespace py = pybind11;

namespace tonbrix::python {

namespace {

// The library's messages end in a line break, for printing; a Python
// exception's text does not.
std::string without_line_break(std::string text)
{
    while (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    return text;
}

} // namespace

void raise(const Error& error, ErrorKind kind)
{
    throw Failure{kind, without_line_break(error.message)};
}

void raise(std::string message, ErrorKind kind)
{
    throw Failure{kind, without_line_break(std::move(message))};
}

void define_errors(py::module_& module)
{
    // The classes live as long as the interpreter, as the module does.
    static py::handle error;
    static py::handle no_plugin;
    error = PyErr_NewExceptionWithDoc(
        "tonbrix.Error",
        "A failure of tonbrix, with the message the command line prints for it.", nullptr,
        nullptr);
    py::object bases = py::make_tuple(error, py::handle(PyExc_LookupError));
    no_plugin = PyErr_NewExceptionWithDoc(
        "tonbrix.PluginNotFoundError",
        "No installed plugin has the URI or list number that was given.", bases.ptr(), nullptr);
    if (!error || !no_plugin) {
        throw py::error_already_set();
    }
    module.add_object("Error", error);
    module.add_object("PluginNotFoundError", no_plugin);
    py::register_exception_translator([](std::exception_ptr thrown) {
        if (!thrown) {
            return;
        }
        try {
            std::rethrow_exception(thrown);
        } catch (const Failure& failure) {
            const py::handle type = failure.kind == ErrorKind::no_plugin ? no_plugin : error;
            PyErr_SetString(type.ptr(), failure.message.c_str());
        }
    });
}

} // namespace tonbrix::python
