#pragma once

#include <tonbrix/sound_file.h>

#include <string>
#include <string_view>

namespace tonbrix {

// Reads "TYPE", "TYPE:ENCODING" or ":ENCODING" (names in any case). Refuses
// unknown names and a type and encoding that libsndfile cannot write
// together: returns false with the whole message in `error`.
bool parse_output_format(std::string_view text, OutputFormatRequest& request, std::string& error);

// The output's libsndfile format for an input of `input_format`. A type left
// out is the input's; an encoding left out is the input's when the type can
// hold it, else the type's natural one (24-bit for FLAC, Vorbis for Ogg,
// 16-bit where 24 is not possible, ...). The input's byte order is kept
// when the type stays. Returns false with the whole message in `error` when
// no writable format results.
bool resolve_output_format(const OutputFormatRequest& request, int input_format, int& format,
                           std::string& error);

// The type a file name's extension names (".wav", ".FLAC", ".aif", ".oga",
// ...), 0 for a name without an extension that libsndfile knows.
int type_named_by_extension(std::string_view path);

// The warning for an output whose name's extension names another type than
// the `written_type` it gets; "" when they agree, when the name names no
// type, and for raw data.
std::string extension_mismatch_warning(std::string_view path, int written_type);

// The message that refuses an output of `format` at `rate` frames per
// second when its encoding takes only certain rates (Opus: 8000, 12000,
// 16000, 24000 and 48000); "" when it takes this one.
std::string output_rate_refusal(int format, int rate);

// The name --output-format uses for a type or an encoding; "" when none.
std::string_view output_type_name(int type);
std::string_view output_encoding_name(int encoding);

} // namespace tonbrix
