#include "lv2/lv2_path.h"

#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace tonbrix {

std::string absolute_lv2_path(std::string_view value, std::string_view cwd)
{
    std::string result;
    std::size_t start = 0;
    for (;;) {
        const std::size_t colon = value.find(':', start);
        const std::string_view entry = value.substr(start, colon - start);
        if (!entry.empty() && entry.front() != '/' && entry.front() != '~') {
            result += cwd;
            if (result.empty() || result.back() != '/') {
                result += '/';
            }
        }
        result += entry;
        if (colon == std::string_view::npos) {
            return result;
        }
        result += ':';
        start = colon + 1;
    }
}

bool lv2_path_from_environment(std::string& path)
{
    const char* value = std::getenv("LV2_PATH");
    if (value == nullptr) {
        return false;
    }
    std::vector<char> cwd(4096);
    while (::getcwd(cwd.data(), cwd.size()) == nullptr) {
        if (cwd.size() > (1u << 20)) {
            path = value;
            return true;
        }
        cwd.resize(cwd.size() * 2);
    }
    path = absolute_lv2_path(value, cwd.data());
    return true;
}

} // namespace tonbrix
