#pragma once

#include <tonbrix/error.h>

#include <string>
#include <string_view>
#include <vector>

namespace tonbrix {

// The files under a folder, by their paths relative to it, sorted; hidden
// files and folders (names starting with '.') are left out and subfolders
// are followed (a folder reached twice through links is walked once). The
// message when the folder or one of its subfolders cannot be read.
Result<std::vector<std::string>> folder_files(const std::string& folder);

// True when libsndfile opens the file for reading.
bool is_sound_file(const std::string& path);

// True when the name ends in the extension of a type that libsndfile reads
// by its header (".wav", ".flac", ".ogg", ".opus", ".aif", ... in any case):
// such a file that does not open is a broken sound file, not another kind
// of file. Headerless types (".raw", ".vox") do not count.
bool has_sound_file_extension(std::string_view path);

// The path with its extension replaced by the usual one of a libsndfile
// type (".wav", ".aiff", ".flac", ".oga", ...); the path as it is for a
// type without one. A name without an extension gets one.
std::string with_type_extension(std::string_view path, int type);

// True when `inner` is `outer` or lies inside it, after both are made
// absolute and their links followed as far as they exist.
bool path_within(const std::string& inner, const std::string& outer);

// The path made absolute with its links followed as far as it exists, for
// telling two spellings of one file apart.
std::string canonical_path(const std::string& path);

} // namespace tonbrix
