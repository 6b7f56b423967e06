#pragma once

namespace tonbrix::cli {

// True when the command line gives --save-preset an empty value, which
// argtable would take for a missing one.
bool names_empty_preset_label(int argc, char** argv);

// The message for an empty label.
inline constexpr const char* empty_label_message =
    "Error: the preset's label is empty; --save-preset needs a name.\n";

} // namespace tonbrix::cli
