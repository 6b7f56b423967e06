#pragma once

#include <lv2/state/state.h>

#include <mutex>
#include <string>

namespace tonbrix {

// The path features a state with files needs. Abstract paths are the
// absolute paths themselves (a run reads and writes no saved sessions), so
// a restored file is found wherever the state names it. Files a plugin
// makes go into a folder of its own under the temporary folder, made on the
// first request and removed with everything in it when the run ends.
struct StatePaths {
    std::string scratch_folder; // empty until a plugin makes a path
    std::mutex lock;

    StatePaths() = default;
    StatePaths(const StatePaths&) = delete;
    StatePaths& operator=(const StatePaths&) = delete;
    ~StatePaths();
};

extern "C" {
// Both return a copy (malloc) that the plugin frees with state_free_path;
// null when memory runs out.
char* state_abstract_path(LV2_State_Map_Path_Handle handle, const char* absolute_path);
char* state_absolute_path(LV2_State_Map_Path_Handle handle, const char* abstract_path);
// The path of `path` inside the scratch folder, with its parent folders
// made; null when they cannot be made.
char* state_make_path(LV2_State_Make_Path_Handle handle, const char* path);
void state_free_path(LV2_State_Free_Path_Handle handle, char* path);
}

} // namespace tonbrix
