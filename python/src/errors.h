#pragma once

#include <tonbrix/error.h>

#include <pybind11/pybind11.h>

#include <string>

namespace tonbrix::python {

// The kinds of failure that have their own Python exception class.
enum class ErrorKind {
    general, // tonbrix.Error
    no_plugin, // tonbrix.PluginNotFoundError, also a LookupError
};

// A failure on its way to Python: thrown by the binding's C++ code while it
// holds the GIL and turned into the exception of its kind, with the message
// the command line prints for it (without the final line break).
struct Failure {
    ErrorKind kind = ErrorKind::general;
    std::string message;
};

// Throws the library's error as a tonbrix.Error (or a subclass).
[[noreturn]] void raise(const Error& error, ErrorKind kind = ErrorKind::general);
[[noreturn]] void raise(std::string message, ErrorKind kind = ErrorKind::general);

// The value of a result, or its error raised.
template <class T>
T value_or_raise(Result<T>&& result, ErrorKind kind = ErrorKind::general)
{
    if (!result) {
        raise(result.error(), kind);
    }
    return std::move(result.value());
}

// Makes the exception classes of the module and the translation of Failure.
void define_errors(pybind11::module_& module);

} // namespace tonbrix::python
