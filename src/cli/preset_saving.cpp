#include "cli/preset_saving.h"

#include <string_view>

namespace tonbrix::cli {

bool names_empty_preset_label(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view word(argv[i]);
        if (word == "--") {
            return false;
        }
        if (word == "--save-preset=" ||
            (word == "--save-preset" && i + 1 < argc && argv[i + 1][0] == '\0')) {
            return true;
        }
    }
    return false;
}

} // namespace tonbrix::cli
