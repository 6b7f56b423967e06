#pragma once

#include "base/buffers.h"
#include "io/flac/flac_writer.h"

#include <tonbrix/error.h>
#include <tonbrix/events.h>

#include <sndfile.h>

#include <cstddef>
#include <cstdint>

namespace tonbrix {

// Calls that let a progress display follow the run. `clear` runs before
// any message is printed, `advance` after every chunk written.
struct ProgressHooks {
    void* context = nullptr;
    void (*advance)(void* context, uint64_t frames_written) = nullptr;
    void (*clear)(void* context) = nullptr;
};

// The last stage: clamps and silences NaN (when checking), converts and
// writes the output chunks, and reports the warnings that go with them, in
// order.
struct WriteStage {
    SNDFILE* output = nullptr;
    FlacWriter* flac = nullptr; // instead of `output`: the segment encoder (with pcm16_output)
    EventSink* events = nullptr; // receives the clipping warnings
    std::size_t width = 0;   // samples per frame
    bool check_clipping = true;
    bool pcm16_output = false; // write 16-bit integers converted here
    ProgressHooks progress;
    ZeroBuffer<int16_t> pcm16; // room for one chunk
    bool warned = false;
    bool warned_invalid = false; // NaN written as silence
    uint64_t frames_written = 0;
};

// Gets the conversion buffer for chunks of up to `frames` frames.
bool prepare_write_stage(WriteStage& stage, std::size_t frames);

// Clamps, converts and writes `frames` frames; the message of a failed
// write.
Status write_chunk(WriteStage& stage, float* samples, std::size_t frames);

// Ends the segment encoder's stream; the message when that fails.
Status finish_write_stage(WriteStage& stage);

// Clears the progress display before a message (a warning or an error).
void before_message(const WriteStage& stage);

} // namespace tonbrix
