#pragma once

#include "audio/clip_stage.h"
#include "audio/gather_stage.h"
#include "audio/mix_stage.h"
#include "audio/run_buffers.h"

#include <lilv/lilv.h>
#include <sndfile.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <vector>

enum class LoopResult { finished, out_of_memory, read_failed, write_failed, interrupted };

struct BlockLoop {
    BlockShape shape;
    const uint8_t* matrix = nullptr;
    RunBuffers* buffers = nullptr;
    const std::vector<LilvInstance*>* instances = nullptr;
    SNDFILE* input = nullptr;
    SNDFILE* output = nullptr;
    FILE* notes = stdout; // where the clipping warning goes
    bool pcm16_output = false; // write 16-bit integers converted here
    const volatile sig_atomic_t* stop = nullptr; // the loop stops before a block once it is set
};

// Reads, mixes, runs, interleaves and writes until the input is exhausted.
// The checked variant clamps every block and warns once; the unchecked one
// writes samples as the plugin produced them. Errors are printed.
LoopResult process_checked(const BlockLoop& loop);
LoopResult process_unchecked(const BlockLoop& loop);
