#pragma once

#include <string>
#include <string_view>

namespace tonbrix {

// LV2_PATH with every relative entry made absolute against `cwd`. lilv
// cannot turn a relative bundle path into a URI and crashes on it.
std::string absolute_lv2_path(std::string_view value, std::string_view cwd);

// The LV2_PATH environment variable made absolute that way; false when it
// is not set.
bool lv2_path_from_environment(std::string& path);

} // namespace tonbrix
