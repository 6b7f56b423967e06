#pragma once

#include <string>

// Texts the program prints, as the tests expect them byte for byte.

inline const std::string one_instance_notes =
    "Note: Running 1 instances of the plugin.\n"
    "Note: Mapping audio channels to plugin ports based on ordering\n";

// The notes of a run of a one-input plugin on a file of several channels.
inline std::string per_channel_notes(int instances)
{
    return "Note: Running " + std::to_string(instances) +
           " instances of the plugin.\nNote: Running an instance of the plugin per channel\n";
}

inline const std::string clipping_warning =
    "WARNING: Clipping output.\nTry changing parameters of the plugin to lower the output "
    "volume, or if that's not possible, try lowering the volume of the input before "
    "processing.\n";

inline const std::string invalid_samples_warning =
    "WARNING: The plugin produced invalid samples (NaN); they were written as silence.\n";

inline const std::string schedule_line = "lv2_worker_schedule..\n";
