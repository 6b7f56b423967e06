#include "lv2/state_paths.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace tonbrix {

namespace {

char* copy_text(std::string_view text) noexcept
{
    auto* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (copy != nullptr) {
        std::memcpy(copy, text.data(), text.size());
        copy[text.size()] = '\0';
    }
    return copy;
}

// Makes the scratch folder once; false when it cannot be made.
bool ensure_scratch_folder(StatePaths& paths)
{
    if (!paths.scratch_folder.empty()) {
        return true;
    }
    std::error_code error;
    std::string pattern = std::filesystem::temp_directory_path(error).string();
    if (error) {
        pattern = "/tmp";
    }
    pattern += "/tonbrix-state-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        return false;
    }
    paths.scratch_folder = pattern;
    return true;
}

} // namespace

extern "C" char* state_abstract_path(LV2_State_Map_Path_Handle, const char* absolute_path)
{
    return absolute_path == nullptr ? nullptr : copy_text(absolute_path);
}

extern "C" char* state_absolute_path(LV2_State_Map_Path_Handle, const char* abstract_path)
{
    if (abstract_path == nullptr) {
        return nullptr;
    }
    try {
        std::error_code error;
        const std::filesystem::path path =
            std::filesystem::absolute(std::filesystem::path(abstract_path), error);
        return error ? copy_text(abstract_path) : copy_text(path.string());
    } catch (...) {
        return nullptr;
    }
}

extern "C" char* state_make_path(LV2_State_Make_Path_Handle handle, const char* path)
{
    auto* paths = static_cast<StatePaths*>(handle);
    if (paths == nullptr || path == nullptr) {
        return nullptr;
    }
    try {
        const std::lock_guard<std::mutex> guard(paths->lock);
        if (!ensure_scratch_folder(*paths)) {
            return nullptr;
        }
        // Never outside the scratch folder.
        const std::filesystem::path relative =
            std::filesystem::path(path).relative_path().lexically_normal();
        if (!relative.empty() && *relative.begin() == "..") {
            return nullptr;
        }
        const std::filesystem::path full = std::filesystem::path(paths->scratch_folder) / relative;
        std::error_code error;
        std::filesystem::create_directories(full.parent_path(), error);
        return error ? nullptr : copy_text(full.string());
    } catch (...) {
        return nullptr;
    }
}

extern "C" void state_free_path(LV2_State_Free_Path_Handle, char* path)
{
    std::free(path);
}

StatePaths::~StatePaths()
{
    if (!scratch_folder.empty()) {
        std::error_code error;
        std::filesystem::remove_all(scratch_folder, error);
    }
}

} // namespace tonbrix
