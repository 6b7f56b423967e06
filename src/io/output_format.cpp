#include "io/output_format.h"

#include <sndfile.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <initializer_list>
#include <span>
#include <string>
#include <vector>

namespace tonbrix {

namespace {

struct Name {
    std::string_view name;
    int value;
};

// Types under their usual file extension. Only those this libsndfile knows
// are accepted (see known_major).
constexpr std::array type_names{
    Name{"wav", SF_FORMAT_WAV},    Name{"wavex", SF_FORMAT_WAVEX}, Name{"w64", SF_FORMAT_W64},
    Name{"rf64", SF_FORMAT_RF64},  Name{"aiff", SF_FORMAT_AIFF},   Name{"caf", SF_FORMAT_CAF},
    Name{"au", SF_FORMAT_AU},      Name{"flac", SF_FORMAT_FLAC},   Name{"ogg", SF_FORMAT_OGG},
    Name{"raw", SF_FORMAT_RAW},    Name{"avr", SF_FORMAT_AVR},     Name{"htk", SF_FORMAT_HTK},
    Name{"iff", SF_FORMAT_SVX},    Name{"mat4", SF_FORMAT_MAT4},   Name{"mat5", SF_FORMAT_MAT5},
    Name{"mpc", SF_FORMAT_MPC2K},  Name{"mp3", SF_FORMAT_MPEG},    Name{"nist", SF_FORMAT_NIST},
    Name{"paf", SF_FORMAT_PAF},    Name{"pvf", SF_FORMAT_PVF},     Name{"sd2", SF_FORMAT_SD2},
    Name{"sds", SF_FORMAT_SDS},    Name{"sf", SF_FORMAT_IRCAM},    Name{"voc", SF_FORMAT_VOC},
    Name{"wve", SF_FORMAT_WVE},    Name{"xi", SF_FORMAT_XI},
};

// Encodings. "pcm8" is signed where the type allows it, else unsigned
// (see encoding_variants).
constexpr std::array encoding_names{
    Name{"pcm16", SF_FORMAT_PCM_16},
    Name{"pcm24", SF_FORMAT_PCM_24},
    Name{"pcm32", SF_FORMAT_PCM_32},
    Name{"float", SF_FORMAT_FLOAT},
    Name{"double", SF_FORMAT_DOUBLE},
    Name{"pcm8", SF_FORMAT_PCM_S8},
    Name{"vorbis", SF_FORMAT_VORBIS},
    Name{"opus", SF_FORMAT_OPUS},
    Name{"ulaw", SF_FORMAT_ULAW},
    Name{"alaw", SF_FORMAT_ALAW},
    Name{"ima-adpcm", SF_FORMAT_IMA_ADPCM},
    Name{"ms-adpcm", SF_FORMAT_MS_ADPCM},
    Name{"vox-adpcm", SF_FORMAT_VOX_ADPCM},
    Name{"gsm610", SF_FORMAT_GSM610},
    Name{"g721-32", SF_FORMAT_G721_32},
    Name{"g723-24", SF_FORMAT_G723_24},
    Name{"g723-40", SF_FORMAT_G723_40},
    Name{"nms-adpcm16", SF_FORMAT_NMS_ADPCM_16},
    Name{"nms-adpcm24", SF_FORMAT_NMS_ADPCM_24},
    Name{"nms-adpcm32", SF_FORMAT_NMS_ADPCM_32},
    Name{"dwvw12", SF_FORMAT_DWVW_12},
    Name{"dwvw16", SF_FORMAT_DWVW_16},
    Name{"dwvw24", SF_FORMAT_DWVW_24},
    Name{"dpcm8", SF_FORMAT_DPCM_8},
    Name{"dpcm16", SF_FORMAT_DPCM_16},
    Name{"alac16", SF_FORMAT_ALAC_16},
    Name{"alac20", SF_FORMAT_ALAC_20},
    Name{"alac24", SF_FORMAT_ALAC_24},
    Name{"alac32", SF_FORMAT_ALAC_32},
    Name{"mp1", SF_FORMAT_MPEG_LAYER_I},
    Name{"mp2", SF_FORMAT_MPEG_LAYER_II},
    Name{"mp3", SF_FORMAT_MPEG_LAYER_III},
};

// The encodings tried, in order, when the input's cannot be kept: lossless
// 24 bits where the type has it, then 16, then float, then the lossy codecs
// of Ogg and MPEG, then anything the type holds at all.
constexpr std::array natural_order{
    SF_FORMAT_PCM_24, SF_FORMAT_PCM_16,  SF_FORMAT_FLOAT, SF_FORMAT_DOUBLE,
    SF_FORMAT_VORBIS, SF_FORMAT_OPUS, SF_FORMAT_MPEG_LAYER_III,
};

bool same_name(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != b[i]) {
            return false;
        }
    }
    return true;
}

// True when libsndfile lists `format` among the major formats (subtypes
// when `subtype`) that it knows.
bool listed_by_libsndfile(int format, bool subtype)
{
    int count = 0;
    sf_command(nullptr, subtype ? SFC_GET_FORMAT_SUBTYPE_COUNT : SFC_GET_FORMAT_MAJOR_COUNT,
               &count, sizeof count);
    for (int i = 0; i < count; ++i) {
        SF_FORMAT_INFO info{};
        info.format = i;
        sf_command(nullptr, subtype ? SFC_GET_FORMAT_SUBTYPE : SFC_GET_FORMAT_MAJOR, &info,
                   sizeof info);
        if (info.format == format) {
            return true;
        }
    }
    return false;
}

// The type an extension names that libsndfile gives for exactly one major
// format (e.g. "oga"); 0 when none or several.
int type_by_extension(std::string_view word)
{
    int count = 0;
    sf_command(nullptr, SFC_GET_FORMAT_MAJOR_COUNT, &count, sizeof count);
    int found = 0;
    for (int i = 0; i < count; ++i) {
        SF_FORMAT_INFO info{};
        info.format = i;
        sf_command(nullptr, SFC_GET_FORMAT_MAJOR, &info, sizeof info);
        if (info.extension != nullptr && same_name(word, info.extension)) {
            if (found != 0) {
                return 0;
            }
            found = info.format;
        }
    }
    return found;
}

int find_type(std::string_view word)
{
    for (const Name& n : type_names) {
        if (same_name(word, n.name)) {
            return listed_by_libsndfile(n.value, false) ? n.value : 0;
        }
    }
    return type_by_extension(word);
}

int find_encoding(std::string_view word)
{
    for (const Name& n : encoding_names) {
        if (same_name(word, n.name)) {
            return listed_by_libsndfile(n.value, true) ? n.value : 0;
        }
    }
    return 0;
}

// The subtypes one encoding name stands for, the given one first.
std::vector<int> encoding_variants(int encoding)
{
    if (encoding == SF_FORMAT_PCM_S8) {
        return {SF_FORMAT_PCM_S8, SF_FORMAT_PCM_U8};
    }
    if (encoding == SF_FORMAT_PCM_U8) {
        return {SF_FORMAT_PCM_U8, SF_FORMAT_PCM_S8};
    }
    return {encoding};
}

bool writable(int format)
{
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = 1;
    info.format = format;
    return sf_format_check(&info) == SF_TRUE;
}

// The first variant of `encoding` that `type` (with `endian` bits, tried
// without them too) can be written in; 0 when none.
int writable_format(int type, int encoding, int endian)
{
    for (const int subtype : encoding_variants(encoding)) {
        if (endian != 0 && writable(type | subtype | endian)) {
            return type | subtype | endian;
        }
        if (writable(type | subtype)) {
            return type | subtype;
        }
    }
    return 0;
}

// The type's natural encoding: the first of natural_order it can hold,
// else the first it can hold at all; 0 when none.
int natural_format(int type)
{
    for (const int encoding : natural_order) {
        if (const int format = writable_format(type, encoding, 0); format != 0) {
            return format;
        }
    }
    for (const Name& n : encoding_names) {
        if (const int format = writable_format(type, n.value, 0); format != 0) {
            return format;
        }
    }
    return 0;
}

std::string message(std::string_view text, std::string_view reason)
{
    std::string m = "Error: invalid --output-format value '";
    m.append(text);
    m += "': ";
    m.append(reason);
    m += ".\n";
    return m;
}

std::string cannot_hold(std::string_view text, int type, int encoding, bool input_type)
{
    std::string reason(output_type_name(type));
    reason += input_type ? " (the input's type)" : "";
    reason += " cannot hold ";
    reason.append(output_encoding_name(encoding));
    reason += " data";
    return message(text, reason);
}

} // namespace

int type_named_by_extension(std::string_view path)
{
    const std::size_t slash = path.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) {
        return 0; // no extension, or a hidden file's name
    }
    std::string extension(name.substr(dot + 1));
    for (char& c : extension) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    // Other names in common use for libsndfile's types.
    constexpr std::array aliases{
        Name{"aif", SF_FORMAT_AIFF},
        Name{"aifc", SF_FORMAT_AIFF},
        Name{"oga", SF_FORMAT_OGG},
        Name{"opus", SF_FORMAT_OGG},
    };
    for (const auto& table : {std::span<const Name>(type_names), std::span<const Name>(aliases)}) {
        for (const Name& n : table) {
            if (n.name == extension) {
                return n.value;
            }
        }
    }
    return 0;
}

std::string output_rate_refusal(int format, int rate)
{
    struct RateLimits {
        int encoding;
        const char* name;
        std::initializer_list<int> rates;
        const char* rates_text;
    };
    static const RateLimits limits[] = {
        {SF_FORMAT_OPUS, "Opus", {8000, 12000, 16000, 24000, 48000},
         "8000, 12000, 16000, 24000 and 48000 Hz"},
        {SF_FORMAT_MPEG_LAYER_III, "MP3", {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100,
                                           48000},
         "8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100 and 48000 Hz"},
    };
    for (const RateLimits& limit : limits) {
        if ((format & SF_FORMAT_SUBMASK) != limit.encoding ||
            std::find(limit.rates.begin(), limit.rates.end(), rate) != limit.rates.end()) {
            continue;
        }
        return std::string("Error: ") + limit.name + " output takes only the sample rates " +
               limit.rates_text + ", not " + std::to_string(rate) +
               " Hz, and tonbrix does not resample; choose another encoding with "
               "--output-format, e.g. --output-format=flac.\n";
    }
    return "";
}

std::string extension_mismatch_warning(std::string_view path, int written_type)
{
    const int named = type_named_by_extension(path);
    written_type &= SF_FORMAT_TYPEMASK;
    const auto wav_family = [](int type) {
        return type == SF_FORMAT_WAV || type == SF_FORMAT_WAVEX || type == SF_FORMAT_RF64;
    };
    // A .wav name holds every WAV variant, RF64 included (a long output).
    if (named == 0 || written_type == SF_FORMAT_RAW || named == written_type ||
        (named != SF_FORMAT_RF64 && wav_family(named) && wav_family(written_type))) {
        return "";
    }
    std::string written(output_type_name(written_type));
    for (char& c : written) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    const std::size_t dot = path.rfind('.');
    std::string warning = "WARNING: The output is written as " + written +
                          " although its name ends in ";
    warning.append(path.substr(dot));
    warning += "; choose the type with --output-format (e.g. --output-format=";
    warning.append(output_type_name(named));
    warning += ").\n";
    return warning;
}

std::string_view output_type_name(int type)
{
    for (const Name& n : type_names) {
        if (n.value == type) {
            return n.name;
        }
    }
    return "";
}

std::string_view output_encoding_name(int encoding)
{
    if (encoding == SF_FORMAT_PCM_U8) {
        encoding = SF_FORMAT_PCM_S8;
    }
    for (const Name& n : encoding_names) {
        if (n.value == encoding) {
            return n.name;
        }
    }
    return "";
}

bool parse_output_format(std::string_view text, OutputFormatRequest& request, std::string& error)
{
    request = OutputFormatRequest{};
    request.text = text;
    const std::size_t colon = text.find(':');
    const std::string_view type_word = text.substr(0, colon);
    const std::string_view encoding_word =
        colon == std::string_view::npos ? std::string_view() : text.substr(colon + 1);
    const bool malformed = text.empty() || (colon != std::string_view::npos &&
                                            (encoding_word.empty() ||
                                             encoding_word.find(':') != std::string_view::npos));
    if (malformed) {
        error = message(text, "expected TYPE, TYPE:ENCODING or :ENCODING");
        return false;
    }
    if (!type_word.empty()) {
        request.type = find_type(type_word);
        if (request.type == 0) {
            error = message(text, "unknown type '" + std::string(type_word) + "'");
            return false;
        }
    }
    if (!encoding_word.empty()) {
        request.encoding = find_encoding(encoding_word);
        if (request.encoding == 0) {
            error = message(text, "unknown encoding '" + std::string(encoding_word) + "'");
            return false;
        }
    }
    if (request.type != 0 && request.encoding != 0 &&
        writable_format(request.type, request.encoding, 0) == 0) {
        error = cannot_hold(text, request.type, request.encoding, false);
        return false;
    }
    return true;
}

bool resolve_output_format(const OutputFormatRequest& request, int input_format, int& format,
                           std::string& error)
{
    const int input_type = input_format & SF_FORMAT_TYPEMASK;
    const int input_encoding = input_format & SF_FORMAT_SUBMASK;
    const int type = request.type != 0 ? request.type : input_type;
    // The byte order only means something within the same type.
    const int endian = type == input_type ? input_format & SF_FORMAT_ENDMASK : 0;

    if (request.encoding != 0) {
        format = writable_format(type, request.encoding, endian);
        if (format == 0) {
            error = cannot_hold(request.text, type, request.encoding, request.type == 0);
            return false;
        }
        return true;
    }
    format = writable_format(type, input_encoding, endian);
    if (format == 0) {
        format = natural_format(type);
    }
    if (format == 0) {
        error = message(request.text,
                        "cannot write " + std::string(output_type_name(type)) + " files");
        return false;
    }
    return true;
}

} // namespace tonbrix

namespace tonbrix {

Result<OutputFormatRequest> parse_output_format(std::string_view text)
{
    OutputFormatRequest request;
    std::string error;
    if (!parse_output_format(text, request, error)) {
        return Error{error};
    }
    return request;
}

} // namespace tonbrix
