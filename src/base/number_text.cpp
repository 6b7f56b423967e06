#include <tonbrix/number_text.h>

#include <charconv>
#include <cstdlib>

namespace tonbrix {

namespace {

template <class T>
std::string shortest_text(T value)
{
    char text[64];
    const std::to_chars_result result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

} // namespace

std::string float_text(float value)
{
    return shortest_text(value);
}

std::string double_text(double value)
{
    return shortest_text(value);
}

double float_as_decimal(float value)
{
    return std::strtod(float_text(value).c_str(), nullptr);
}

std::string seconds_text(uint64_t frames, double rate)
{
    return double_text(static_cast<double>(frames) / rate);
}

} // namespace tonbrix
