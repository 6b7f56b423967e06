// --output-format values, resolved against input formats: the first three
// bytes choose a type, an encoding and a byte order that libsndfile can read
// as the input's format; the rest is the value.
#include "io/output_format.h"

#include <sndfile.h>

#include <cstdint>
#include <cstring>
#include <string>

using namespace tonbrix;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    if (size < 3) {
        return 0;
    }
    int majors = 0;
    int subtypes = 0;
    sf_command(nullptr, SFC_GET_FORMAT_MAJOR_COUNT, &majors, sizeof majors);
    sf_command(nullptr, SFC_GET_FORMAT_SUBTYPE_COUNT, &subtypes, sizeof subtypes);
    SF_FORMAT_INFO major{};
    SF_FORMAT_INFO subtype{};
    major.format = data[0] % majors;
    subtype.format = data[1] % subtypes;
    sf_command(nullptr, SFC_GET_FORMAT_MAJOR, &major, sizeof major);
    sf_command(nullptr, SFC_GET_FORMAT_SUBTYPE, &subtype, sizeof subtype);
    const int endians[] = {SF_ENDIAN_FILE, SF_ENDIAN_LITTLE, SF_ENDIAN_BIG, SF_ENDIAN_CPU};
    SF_INFO input{};
    input.format = major.format | subtype.format | endians[data[2] % 4];
    input.channels = 1;
    input.samplerate = 44100;
    if (sf_format_check(&input) == SF_FALSE) {
        return 0;
    }
    const int input_format = input.format;
    const std::string_view text(reinterpret_cast<const char*>(data + 3), size - 3);
    OutputFormatRequest request;
    std::string error;
    if (!parse_output_format(text, request, error)) {
        if (error.empty() || error.back() != '\n') {
            __builtin_trap(); // a refusal always has its whole message
        }
        return 0;
    }
    if ((request.type != 0 && output_type_name(request.type).empty()) ||
        (request.encoding != 0 && output_encoding_name(request.encoding).empty())) {
        __builtin_trap();
    }
    int format = 0;
    error.clear();
    if (resolve_output_format(request, input_format, format, error)) {
        // What it resolves to can be written.
        SF_INFO info{};
        info.format = format;
        info.channels = 1;
        info.samplerate = 44100;
        if (sf_format_check(&info) == SF_FALSE) {
            __builtin_trap();
        }
    } else if (error.empty()) {
        __builtin_trap();
    }
    return 0;
}
