#include "io/write_stage.h"

#include "io/clip_stage.h"

#include <cstring>
#include <string>

namespace tonbrix {

namespace {

Error flac_error(const WriteStage& stage)
{
    before_message(stage);
    if (stage.flac->error > 0) {
        return Error{std::string("Error writing output file: System error : ") +
                     std::strerror(stage.flac->error) + ".\n"};
    }
    return Error{"Error writing output file: The FLAC encoder failed.\n"};
}

void warn(const WriteStage& stage, const char* text)
{
    before_message(stage);
    if (stage.events != nullptr) {
        stage.events->report(EventKind::warning, text);
    }
}

} // namespace

Status finish_write_stage(WriteStage& stage)
{
    if (stage.flac != nullptr && !finish_flac_writer(*stage.flac)) {
        return flac_error(stage);
    }
    return {};
}

bool prepare_write_stage(WriteStage& stage, std::size_t frames)
{
    std::size_t size = 0;
    return !stage.pcm16_output ||
           (checked_product({frames, stage.width}, size) && stage.pcm16.allocate(size));
}

void before_message(const WriteStage& stage)
{
    if (stage.progress.clear != nullptr) {
        stage.progress.clear(stage.progress.context);
    }
}

Status write_chunk(WriteStage& stage, float* samples, std::size_t frames)
{
    const std::size_t count = frames * stage.width;
    if (stage.check_clipping) {
        // The 16-bit conversion saturates exactly as clamping would.
        const unsigned flaws = repair_samples(samples, count, !stage.pcm16_output);
        if ((flaws & beyond_full_scale) != 0 && !stage.warned) {
            warn(stage, clipping_warning);
            stage.warned = true;
        }
        if ((flaws & not_a_number) != 0 && !stage.warned_invalid) {
            warn(stage, invalid_samples_warning);
            stage.warned_invalid = true;
        }
    }
    const auto n = static_cast<sf_count_t>(frames);
    sf_count_t written = 0;
    if (stage.pcm16_output) {
        float_to_pcm16(samples, count, stage.pcm16.data);
        if (stage.flac != nullptr && !flac_write(*stage.flac, stage.pcm16.data, frames)) {
            return flac_error(stage);
        }
        written = stage.flac != nullptr ? n : sf_writef_short(stage.output, stage.pcm16.data, n);
    } else {
        written = sf_writef_float(stage.output, samples, n);
    }
    if (written != n) {
        before_message(stage);
        return Error{std::string("Error writing output file: ") + sf_strerror(stage.output) +
                     "\n"};
    }
    stage.frames_written += frames;
    if (stage.progress.advance != nullptr) {
        stage.progress.advance(stage.progress.context, stage.frames_written);
    }
    return {};
}

} // namespace tonbrix
