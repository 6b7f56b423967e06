#include "base/buffers.h"

namespace tonbrix {

bool checked_product(std::initializer_list<std::size_t> factors, std::size_t& product)
{
    std::size_t result = 1;
    for (std::size_t factor : factors) {
        if (__builtin_mul_overflow(result, factor, &result)) {
            return false;
        }
    }
    product = result;
    return true;
}

} // namespace tonbrix
