#pragma once

#include <lilv/lilv.h>

#include <cstdint>
#include <vector>

// The indices of the ports with the lv2:sampleRate property, whose default,
// minimum and maximum are fractions of the sample rate.
std::vector<uint32_t> sample_rate_ports(const LilvPlugin* plugin, const LilvNode* sample_rate);

// Turns the fractions of `ports` in the three by-index tables into values at
// `rate`; NaN (nothing declared) stays NaN.
void scale_to_sample_rate(const std::vector<uint32_t>& ports, double rate,
                          std::vector<float>& minimums, std::vector<float>& maximums,
                          std::vector<float>& start_values);
