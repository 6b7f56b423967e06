#include "io/output_size.h"

#include <sndfile.h>

namespace tonbrix {

namespace {

// Bytes per sample of an encoding; one for the coders that pack samples
// below a byte.
uint64_t bytes_per_sample(int encoding)
{
    switch (encoding) {
    case SF_FORMAT_PCM_16:
        return 2;
    case SF_FORMAT_PCM_24:
        return 3;
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT:
        return 4;
    case SF_FORMAT_DOUBLE:
        return 8;
    default:
        return 1;
    }
}

} // namespace

SizeFit fit_output_size(int format, int channels, uint64_t frames)
{
    const int type = format & SF_FORMAT_TYPEMASK;
    const bool wav = type == SF_FORMAT_WAV || type == SF_FORMAT_WAVEX;
    if ((!wav && type != SF_FORMAT_AIFF) || channels < 1) {
        return SizeFit::fits;
    }
    const uint64_t frame_bytes =
        static_cast<uint64_t>(channels) * bytes_per_sample(format & SF_FORMAT_SUBMASK);
    if (frames <= riff_data_limit / frame_bytes) {
        return SizeFit::fits;
    }
    return wav ? SizeFit::rf64 : SizeFit::too_long;
}

int rf64_format(int format)
{
    return (format & ~SF_FORMAT_TYPEMASK) | SF_FORMAT_RF64;
}

} // namespace tonbrix
