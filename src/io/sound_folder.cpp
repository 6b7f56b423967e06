#include "io/sound_folder.h"

#include <sndfile.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <set>
#include <system_error>
#include <utility>

namespace tonbrix {

namespace fs = std::filesystem;

namespace {

// Walks one folder into `files`; `seen` holds the folders already walked,
// by device and inode, so that a link back up ends the walk there.
Status walk(const fs::path& folder, const fs::path& relative,
            std::set<std::pair<dev_t, ino_t>>& seen, std::vector<std::string>& files)
{
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || !seen.insert({st.st_dev, st.st_ino}).second) {
        return {};
    }
    std::error_code error;
    fs::directory_iterator it(folder, error);
    if (error) {
        return Error{"Error: cannot read the folder " + folder.string() + ": " + error.message() +
                     ".\n"};
    }
    for (; it != fs::directory_iterator(); it.increment(error)) {
        if (error) {
            break;
        }
        const std::string name = it->path().filename().string();
        if (name.empty() || name[0] == '.') {
            continue;
        }
        std::error_code kind_error;
        const fs::file_status status = it->status(kind_error); // follows links
        if (kind_error) {
            continue; // a dangling link
        }
        if (fs::is_directory(status)) {
            if (Status walked = walk(it->path(), relative / name, seen, files); !walked) {
                return walked;
            }
        } else if (fs::is_regular_file(status)) {
            files.push_back((relative / name).string());
        }
    }
    if (error) {
        return Error{"Error: cannot read the folder " + folder.string() + ": " + error.message() +
                     ".\n"};
    }
    return {};
}

} // namespace

Result<std::vector<std::string>> folder_files(const std::string& folder)
{
    std::vector<std::string> files;
    std::set<std::pair<dev_t, ino_t>> seen;
    std::error_code error;
    if (!fs::is_directory(folder, error)) {
        return Error{"Error: cannot read the folder " + folder + ": " +
                     (error ? error.message() : std::string("Not a directory")) + ".\n"};
    }
    if (Status walked = walk(fs::path(folder), fs::path(), seen, files); !walked) {
        return walked.error();
    }
    std::sort(files.begin(), files.end());
    return files;
}

bool is_sound_file(const std::string& path)
{
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        return false;
    }
    sf_close(file);
    return true;
}

bool has_sound_file_extension(std::string_view path)
{
    const std::size_t slash = path.find_last_of('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.find_last_of('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size()) {
        return false;
    }
    std::string extension(name.substr(dot + 1));
    for (char& c : extension) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    // Spellings of libsndfile's types that its own lists leave out.
    for (const char* alias : {"aif", "snd", "mp2"}) {
        if (extension == alias) {
            return true;
        }
    }
    const auto listed = [&extension](int count_command, int info_command) {
        int count = 0;
        sf_command(nullptr, count_command, &count, sizeof count);
        for (int i = 0; i < count; ++i) {
            SF_FORMAT_INFO info{};
            info.format = i;
            if (sf_command(nullptr, info_command, &info, sizeof info) == 0 &&
                (info.format & SF_FORMAT_TYPEMASK) != SF_FORMAT_RAW && info.extension != nullptr &&
                extension == info.extension) {
                return true;
            }
        }
        return false;
    };
    return listed(SFC_GET_FORMAT_MAJOR_COUNT, SFC_GET_FORMAT_MAJOR) ||
           listed(SFC_GET_SIMPLE_FORMAT_COUNT, SFC_GET_SIMPLE_FORMAT);
}

std::string with_type_extension(std::string_view path, int type)
{
    int count = 0;
    sf_command(nullptr, SFC_GET_FORMAT_MAJOR_COUNT, &count, sizeof count);
    std::string extension;
    for (int i = 0; i < count; ++i) {
        SF_FORMAT_INFO info{};
        info.format = i;
        if (sf_command(nullptr, SFC_GET_FORMAT_MAJOR, &info, sizeof info) == 0 &&
            (info.format & SF_FORMAT_TYPEMASK) == type && info.extension != nullptr) {
            extension = info.extension;
            break;
        }
    }
    if (type == SF_FORMAT_WAVEX) {
        extension = "wav";
    }
    if (extension.empty()) {
        return std::string(path);
    }
    const std::size_t slash = path.rfind('/');
    const std::size_t dot = path.rfind('.');
    const std::size_t name_start = slash == std::string_view::npos ? 0 : slash + 1;
    const bool has_extension = dot != std::string_view::npos && dot > name_start;
    return std::string(has_extension ? path.substr(0, dot) : path) + "." + extension;
}

std::string canonical_path(const std::string& path)
{
    std::error_code error;
    const fs::path absolute = fs::weakly_canonical(fs::absolute(path, error), error);
    return error ? fs::absolute(path).lexically_normal().string() : absolute.string();
}

bool path_within(const std::string& inner, const std::string& outer)
{
    const std::string in = canonical_path(inner);
    std::string out = canonical_path(outer);
    while (out.size() > 1 && out.back() == '/') {
        out.pop_back();
    }
    return in == out || (in.size() > out.size() && in.compare(0, out.size(), out) == 0 &&
                         (in[out.size()] == '/' || out == "/"));
}

} // namespace tonbrix
