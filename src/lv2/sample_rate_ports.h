#pragma once

#include <lilv/lilv.h>

#include <cstdint>
#include <vector>

// The indices of the ports with the lv2:sampleRate property, whose default,
// minimum and maximum are fractions of the sample rate.
std::vector<uint32_t> sample_rate_ports(const LilvPlugin* plugin, const LilvNode* sample_rate);

// True when the default of an lv2:sampleRate port is a fraction of the rate:
// it lies within the port's fractional minimum and maximum (a bound that is
// not declared, NaN, limits nothing). Plugins that give such a default in Hz
// (440 beside a maximum of 0.5) give it in the port's units already.
bool default_is_fraction(float value, float minimum, float maximum);

// Turns the fractions of `ports` in the three by-index tables into values at
// `rate`: the minimums and maximums, and the start values that
// default_is_fraction takes for fractions; NaN (nothing declared) stays NaN.
void scale_to_sample_rate(const std::vector<uint32_t>& ports, double rate,
                          std::vector<float>& minimums, std::vector<float>& maximums,
                          std::vector<float>& start_values);
