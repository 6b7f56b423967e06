#pragma once

#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace tonbrix {

// The message of a failure to get the memory an operation needs.
inline constexpr const char* insufficient_memory_message = "Error: insufficient memory\n";

// A failure, with the message a program shows for it, whole (its line
// break included).
struct Error {
    std::string message;
};

// Success, or the error that stopped an operation that gives nothing back.
class [[nodiscard]] Status {
public:
    Status() = default;
    Status(Error error) : error_(std::move(error)) {}

    bool ok() const noexcept { return !error_.has_value(); }
    explicit operator bool() const noexcept { return ok(); }
    // Only for a failed status.
    const Error& error() const noexcept { return *error_; }

private:
    std::optional<Error> error_;
};

// A value, or the error that kept it from being made.
template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : outcome_(std::move(value)) {}
    Result(Error error) : outcome_(std::move(error)) {}

    bool ok() const noexcept { return outcome_.index() == 0; }
    explicit operator bool() const noexcept { return ok(); }
    // Only for a successful result.
    T& value() noexcept { return std::get<0>(outcome_); }
    const T& value() const noexcept { return std::get<0>(outcome_); }
    T* operator->() noexcept { return &value(); }
    const T* operator->() const noexcept { return &value(); }
    // Only for a failed result.
    const Error& error() const noexcept { return std::get<1>(outcome_); }

private:
    std::variant<T, Error> outcome_;
};

} // namespace tonbrix
