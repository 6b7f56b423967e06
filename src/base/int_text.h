#pragma once

namespace tonbrix {

// Reads a decimal number the way atoi does (leading white space, an optional
// sign, digits up to the first other character, 0 without digits), but
// saturates at the limits of int instead of overflowing.
int saturating_atoi(const char* text) noexcept;

} // namespace tonbrix
