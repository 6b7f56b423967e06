#pragma once

#include <string>
#include <string_view>

// LV2_PATH with every relative entry made absolute against `cwd`. lilv
// cannot turn a relative bundle path into a URI and crashes on it.
std::string absolute_lv2_path(std::string_view value, std::string_view cwd);

// Rewrites the LV2_PATH environment variable that way, when it is set.
void make_lv2_path_absolute();
