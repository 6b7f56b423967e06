#include "support/samples.h"

#include <cstring>

std::vector<float> delayed(const std::vector<float>& input, long by, long length)
{
    std::vector<float> out(static_cast<std::size_t>(length), 0.0f);
    for (long f = by; f < length; ++f) {
        if (f - by < static_cast<long>(input.size())) {
            out[f] = input[f - by];
        }
    }
    return out;
}

::testing::AssertionResult same(const std::vector<float>& actual,
                                const std::vector<float>& expected)
{
    if (actual.size() != expected.size()) {
        return ::testing::AssertionFailure()
               << actual.size() << " samples, expected " << expected.size();
    }
    for (std::size_t i = 0; i < actual.size(); ++i) {
        if (std::memcmp(&actual[i], &expected[i], sizeof(float)) != 0) {
            return ::testing::AssertionFailure()
                   << "sample " << i << " is " << actual[i] << ", expected " << expected[i];
        }
    }
    return ::testing::AssertionSuccess();
}
