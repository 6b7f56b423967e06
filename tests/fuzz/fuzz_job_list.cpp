// The --batch job lists: TAB lines and JSON objects, one job a line.
#include "batch/job_list.h"

#include <cstdint>
#include <string_view>

using namespace tonbrix;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::vector<Job> jobs = parse_job_list(text);
    std::size_t last_line = 0;
    for (const Job& job : jobs) {
        // Lines come in order, each job is either runnable or says why not.
        if (job.line <= last_line) {
            __builtin_trap();
        }
        last_line = job.line;
        if (job.error.empty() && (job.input.empty() || job.output.empty())) {
            __builtin_trap();
        }
        if (!job.error.empty() && job.error.back() != '\n') {
            __builtin_trap();
        }
        for (const std::string& item : job.parameters) {
            if (item.find(':') == std::string::npos || item.find(',') != std::string::npos) {
                __builtin_trap();
            }
        }
        for (const std::string& item : job.set_values) {
            if (item.find('=') == std::string::npos) {
                __builtin_trap();
            }
        }
    }
    return 0;
}
