#pragma once

#include <gtest/gtest.h>

#include <vector>

// `input` moved `by` frames later, with silence before it, cut or padded
// with silence to `length` frames.
std::vector<float> delayed(const std::vector<float>& input, long by, long length);

// Success when both hold the same samples bit for bit; else the first
// sample that differs, or the two lengths.
::testing::AssertionResult same(const std::vector<float>& actual,
                                const std::vector<float>& expected);
