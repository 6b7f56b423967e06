#include "io/write_stage.h"

#include "io/clip_stage.h"

#include <cstring>

namespace {

void report_flac_error(const WriteStage& stage)
{
    before_message(stage);
    if (stage.flac->error > 0) {
        std::fprintf(stderr, "Error writing output file: System error : %s.\n",
                     std::strerror(stage.flac->error));
    } else {
        std::fputs("Error writing output file: The FLAC encoder failed.\n", stderr);
    }
}

} // namespace

bool finish_write_stage(WriteStage& stage)
{
    if (stage.flac != nullptr && !finish_flac_writer(*stage.flac)) {
        report_flac_error(stage);
        return false;
    }
    return true;
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

bool write_chunk(WriteStage& stage, float* samples, std::size_t frames)
{
    const std::size_t count = frames * stage.width;
    if (stage.check_clipping) {
        // The 16-bit conversion saturates exactly as clamping would.
        const unsigned flaws = repair_samples(samples, count, !stage.pcm16_output);
        if ((flaws & beyond_full_scale) != 0 && !stage.warned) {
            before_message(stage);
            std::fputs(clipping_warning, stage.warnings);
            stage.warned = true;
        }
        if ((flaws & not_a_number) != 0 && !stage.warned_invalid) {
            before_message(stage);
            std::fputs(invalid_samples_warning, stage.warnings);
            stage.warned_invalid = true;
        }
    }
    const auto n = static_cast<sf_count_t>(frames);
    sf_count_t written = 0;
    if (stage.pcm16_output) {
        float_to_pcm16(samples, count, stage.pcm16.data);
        if (stage.flac != nullptr && !flac_write(*stage.flac, stage.pcm16.data, frames)) {
            report_flac_error(stage);
            return false;
        }
        written = stage.flac != nullptr ? n : sf_writef_short(stage.output, stage.pcm16.data, n);
    } else {
        written = sf_writef_float(stage.output, samples, n);
    }
    if (written != n) {
        before_message(stage);
        std::fprintf(stderr, "Error writing output file: %s\n", sf_strerror(stage.output));
        return false;
    }
    stage.frames_written += frames;
    if (stage.progress.advance != nullptr) {
        stage.progress.advance(stage.progress.context, stage.frames_written);
    }
    return true;
}
