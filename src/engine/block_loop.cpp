#include "engine/block_loop.h"

#include "engine/chunk_queue.h"
#include "engine/instance_threads.h"
#include "io/read_stage.h"
#include "engine/run_stage.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <thread>

namespace tonbrix {

namespace {

// Frames the file is read and written in, at least: small blocks are
// gathered into one read and one write, which the plugin still runs
// block by block.
constexpr uint32_t io_frames = 8192;
// With reader and writer threads, chunks four times that size: each chunk
// costs a few hand-overs between threads.
constexpr uint32_t pipeline_frames = 32768;

// Chunks in flight between the reader and the instances, and between the
// instances and the writer.
constexpr std::size_t queue_depth = 4;
// Chunks a thread that waits for its queue to fill waits for.
constexpr std::size_t batch_size = queue_depth / 2;

struct InputChunk {
    std::size_t buffer = 0;
    ReadOutcome outcome;
};

struct OutputChunk {
    std::size_t buffer = 0;
    std::size_t frames = 0;
    bool end = false;
    int read_error = 0; // with end: the read that ended the input failed
};

// How the chunks travel: straight from call to call on one thread, or
// through queues to a reader and a writer thread. With instance threads
// the calling thread reads: chunk buffers are used in pairs, input i with
// output i, and both are free again once the writer is done with output i.
struct Pipeline {
    bool threaded = false;
    SNDFILE* input = nullptr;
    std::size_t chunk_frames = 0;
    std::size_t channels = 0;
    std::size_t width = 0;
    std::vector<FloatBuffer> inputs;
    std::vector<FloatBuffer> outputs;
    ChunkQueue<std::size_t> free_inputs;
    ChunkQueue<InputChunk> read_chunks;
    ChunkQueue<std::size_t> free_outputs;
    ChunkQueue<OutputChunk> write_chunks;
    // The instance threads fill the output buffers with plain channels
    // (channel c at c * chunk_frames), which the writer interleaves.
    bool planar = false;
    std::vector<std::size_t> frames_to_write; // by output buffer
    int end_read_error = 0; // for the end chunk of the instance threads
    FloatBuffer interleaved;     // the writer's, for plain channels
    std::vector<const float*> sources;
    WriteStage* writer = nullptr;
    LoopResult writer_result = LoopResult::finished;
    Error writer_error; // the message of a failed read or write
    int pending_error = 0; // a read failed after giving frames
    std::thread reader_thread;
    std::thread writer_thread;
};

bool allocate_pipeline(Pipeline& p, std::size_t count)
{
    std::size_t input_size = 0;
    std::size_t output_size = 0;
    if (!checked_product({p.chunk_frames, p.channels}, input_size) ||
        !checked_product({p.chunk_frames, p.width}, output_size)) {
        return false;
    }
    p.inputs.resize(count);
    p.outputs.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        if (!p.inputs[i].allocate(input_size) || !p.outputs[i].allocate(output_size)) {
            return false;
        }
    }
    p.frames_to_write.resize(count);
    p.sources.resize(p.width);
    return !p.planar || p.width == 1 || p.interleaved.allocate(output_size);
}

// The samples of an output chunk as interleaved frames.
float* interleaved_output(Pipeline& p, std::size_t buffer, std::size_t frames)
{
    float* samples = p.outputs[buffer].data;
    if (!p.planar || p.width == 1) {
        return samples;
    }
    for (std::size_t c = 0; c < p.width; ++c) {
        p.sources[c] = samples + c * p.chunk_frames;
    }
    interleave_channels(frames, p.sources.data(), p.width, p.interleaved.data);
    return p.interleaved.data;
}

// Hands a chunk the instance threads are done with to the writer. After
// the end nothing more comes: closing lets the writer stop waiting for a
// second chunk.
void chunk_finished(void* context, const ThreadChunk& chunk)
{
    auto* p = static_cast<Pipeline*>(context);
    if (chunk.end) {
        queue_push(p->write_chunks, OutputChunk{0, 0, true, p->end_read_error});
        queue_close(p->write_chunks);
        return;
    }
    queue_push(p->write_chunks, OutputChunk{chunk.slot, p->frames_to_write[chunk.slot], false, 0});
}

void reader_main(Pipeline* p)
{
    std::size_t buffer = 0;
    while (queue_pop(p->free_inputs, buffer)) {
        const ReadOutcome outcome = read_chunk(p->input, p->inputs[buffer].data, p->chunk_frames);
        if (!queue_push(p->read_chunks, InputChunk{buffer, outcome}) || outcome.frames == 0 ||
            outcome.error != 0) {
            return;
        }
    }
}

// Ends the writer's side: a failed write, or the end of the chunks.
void writer_main(Pipeline* p)
{
    // With instance threads, the writer and the reading thread wake for
    // two chunks at a time.
    const std::size_t refill = p->planar ? batch_size : 1;
    OutputChunk chunk;
    while (queue_pop(p->write_chunks, chunk, refill)) {
        if (chunk.end) {
            if (chunk.read_error != 0) {
                before_message(*p->writer);
                p->writer_error = read_error(chunk.read_error);
                p->writer_result = LoopResult::read_failed;
            }
            break;
        }
        float* samples = interleaved_output(*p, chunk.buffer, chunk.frames);
        if (Status written = write_chunk(*p->writer, samples, chunk.frames); !written) {
            p->writer_error = written.error();
            p->writer_result = LoopResult::write_failed;
            break;
        }
        queue_push(p->free_outputs, chunk.buffer);
    }
    // Wakes the instances' side if it waits for room or for a buffer.
    queue_close(p->free_outputs);
    queue_close(p->write_chunks);
}

bool start_pipeline(Pipeline& p)
{
    for (auto* q : {&p.free_inputs, &p.free_outputs}) {
        q->capacity = p.inputs.size();
    }
    p.read_chunks.capacity = p.inputs.size();
    p.write_chunks.capacity = p.outputs.size() + 1;
    for (std::size_t i = 0; i < p.inputs.size(); ++i) {
        queue_push(p.free_inputs, i);
        queue_push(p.free_outputs, i);
    }
    try {
        if (!p.planar) {
            p.reader_thread = std::thread(reader_main, &p);
        }
        p.writer_thread = std::thread(writer_main, &p);
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void stop_pipeline(Pipeline& p) noexcept
{
    queue_close(p.free_inputs);
    queue_close(p.read_chunks);
    if (p.reader_thread.joinable()) {
        p.reader_thread.join();
    }
    if (p.writer_thread.joinable()) {
        // The end chunk (or a failed write) lets the writer finish.
        p.writer_thread.join();
    }
}

// The next chunk of input. Reads directly into buffer `own` on one thread
// or with instance threads; takes the reader's next chunk otherwise
// (`previous` is handed back first).
InputChunk next_input(Pipeline& p, std::size_t own, std::size_t previous, bool has_previous)
{
    if (p.pending_error != 0) {
        return InputChunk{0, ReadOutcome{0, p.pending_error}};
    }
    if (!p.threaded || p.planar) {
        InputChunk chunk{own, read_chunk(p.input, p.inputs[own].data, p.chunk_frames)};
        if (chunk.outcome.frames > 0 && chunk.outcome.error != 0) {
            p.pending_error = chunk.outcome.error;
            chunk.outcome.error = 0;
        }
        return chunk;
    }
    if (has_previous) {
        queue_push(p.free_inputs, previous);
    }
    InputChunk chunk;
    if (!queue_pop(p.read_chunks, chunk)) {
        chunk.outcome = {0, 0};
    }
    if (chunk.outcome.frames > 0 && chunk.outcome.error != 0) {
        // The frames before the failure are processed; the failure ends the
        // input at the next read.
        p.pending_error = chunk.outcome.error;
        chunk.outcome.error = 0;
    }
    return chunk;
}

// A buffer for the next output chunk; false once the writer has failed.
bool next_output(Pipeline& p, std::size_t& buffer)
{
    if (!p.threaded) {
        buffer = 0;
        return true;
    }
    return queue_pop(p.free_outputs, buffer, p.planar ? batch_size : 1);
}

// Hands a chunk to the writer; false once writing has failed.
bool emit(Pipeline& p, const OutputChunk& chunk)
{
    if (p.threaded) {
        return queue_push(p.write_chunks, chunk);
    }
    if (chunk.end) {
        if (chunk.read_error != 0) {
            before_message(*p.writer);
            p.writer_error = read_error(chunk.read_error);
            p.writer_result = LoopResult::read_failed;
        }
        return true;
    }
    if (Status written = write_chunk(*p.writer, p.outputs[chunk.buffer].data, chunk.frames);
        !written) {
        p.writer_error = written.error();
        p.writer_result = LoopResult::write_failed;
        return false;
    }
    return true;
}

std::size_t ready_frames(const RunStage& stage)
{
    std::size_t ready = stage.stores.empty() ? 0 : stage.stores[0].frames;
    for (const OutputStore& store : stage.stores) {
        ready = std::min(ready, store.frames);
    }
    return ready;
}

// The frames of silence to run after the input: enough whole blocks for the
// `remaining` output frames (and the latency still to drop), at most a
// chunk. Never more, so that the instances end in the same state, and give
// the same readings, whatever the chunk size.
std::size_t silence_frames(const RunStage& stage, uint64_t remaining, std::size_t chunk_frames)
{
    uint64_t needed = 0;
    for (const OutputStore& store : stage.stores) {
        const uint64_t wanted = remaining + store.skip;
        needed = std::max(needed, wanted > store.frames ? wanted - store.frames : 0);
    }
    const uint64_t block = stage.shape.block_size;
    const uint64_t blocks = std::max<uint64_t>((needed + block - 1) / block, 1);
    return static_cast<std::size_t>(std::min<uint64_t>(blocks * block, chunk_frames));
}

void warn_invalid_latency(const RunStage& stage, const WriteStage& writer, bool& warned)
{
    for (std::size_t m = 0; m < stage.invalid_latency.size() && !warned; ++m) {
        if (stage.invalid_latency[m] != 0) {
            before_message(writer);
            char text[128];
            std::snprintf(text, sizeof text,
                          "WARNING: The plugin reported an invalid latency (%g); it was taken as "
                          "0.\n",
                          static_cast<double>(stage.invalid_latencies[m]));
            if (writer.events != nullptr) {
                writer.events->report(EventKind::warning, text);
            }
            warned = true;
        }
    }
}

} // namespace

LoopResult run_block_loop(const BlockLoop& loop, Error& error)
{
    const BlockShape& s = loop.shape;
    const std::size_t n_instances = loop.instances->size();
    const std::size_t width = std::size_t{s.instances} * s.outputs;
    const int jobs = loop.plugins_print ? 1 : std::max(loop.jobs, 1);
    const uint32_t chunk_target = jobs > 1 ? pipeline_frames : io_frames;
    const std::size_t blocks_per_chunk =
        s.block_size < chunk_target && !loop.plugins_print ? chunk_target / s.block_size : 1;
    // With a tail or latency compensation the input goes on as silence
    // after the file's end; the frames of the last block beyond it are
    // silence too.
    const bool extended = loop.tail_frames > 0 || (loop.compensate_latency && loop.latency_output >= 0);

    Pipeline pipeline;
    pipeline.input = loop.input;
    pipeline.channels = s.channels;
    pipeline.width = width;
    pipeline.threaded = jobs > 1;
    // Without latency to take out, every instance's outputs for a chunk are
    // known as soon as it has run over the chunk: the instances need not
    // wait for one another, and run on threads of their own.
    pipeline.planar = pipeline.threaded && !(loop.compensate_latency && loop.latency_output >= 0);

    WriteStage writer;
    writer.output = loop.output;
    writer.events = loop.events;
    writer.width = width;
    writer.check_clipping = loop.check_clipping;
    writer.pcm16_output = loop.pcm16_output;
    writer.progress = loop.progress;
    pipeline.writer = &writer;
    FlacWriter flac;
    if (loop.flac_fd >= 0) {
        writer.flac = &flac;
        flac.strings = loop.flac_strings;
        writer.pcm16_output = true;
    }

    RunStage stage;
    stage.shape = s;
    stage.matrix = loop.matrix;
    stage.buffers = loop.buffers;
    stage.instances = loop.instances;
    stage.workers = loop.workers;
    stage.sequence_type = loop.urids->atom_Sequence;
    stage.chunk_type = loop.urids->atom_Chunk;
    stage.latency_output = loop.latency_output;
    stage.compensate_latency = loop.compensate_latency;
    stage.ran.assign(n_instances, 0);
    stage.invalid_latency.assign(n_instances, 0);
    stage.invalid_latencies.assign(n_instances, 0.0f);
    stage.stores.resize(n_instances);
    stage.prefetch_input = jobs > 1;
    stage.block_done = loop.block_done;
    stage.block_context = loop.block_context;

    if (!checked_product({s.block_size, blocks_per_chunk}, pipeline.chunk_frames) ||
        !allocate_pipeline(pipeline, pipeline.threaded ? queue_depth : 1) ||
        !prepare_write_stage(writer, pipeline.chunk_frames) ||
        (writer.flac != nullptr &&
         !start_flac_writer(flac, loop.flac_fd, loop.flac_info,
                            static_cast<std::size_t>(std::max(loop.jobs, 1))))) {
        error.message = insufficient_memory_message;
        return LoopResult::out_of_memory;
    }
    std::vector<const float*> sources(width);

    const std::size_t thread_count =
        std::min<std::size_t>(static_cast<std::size_t>(jobs), n_instances);
    InstanceThreads threads;
    InstancePool pool;
    if (pipeline.threaded && !start_pipeline(pipeline)) {
        stop_pipeline(pipeline);
        error.message = insufficient_memory_message;
        return LoopResult::out_of_memory;
    }
    if (pipeline.planar && !start_instance_threads(threads, stage, thread_count, queue_depth,
                                                   chunk_finished, &pipeline)) {
        queue_close(pipeline.write_chunks);
        stop_pipeline(pipeline);
        error.message = insufficient_memory_message;
        return LoopResult::out_of_memory;
    }
    if (!pipeline.planar) {
        for (OutputStore& store : stage.stores) {
            reset_output_store(store, s.outputs, pipeline.chunk_frames);
        }
        start_instance_pool(pool, stage, thread_count);
    }

    LoopResult result = LoopResult::finished;
    bool at_end = false;        // the file is read to its end
    uint64_t file_frames = 0;   // frames read from the file
    uint64_t frames_out = 0;    // frames handed to the writer
    uint64_t total_out = 0;     // frames to write, once the end is known
    bool has_input = false;
    std::size_t input_buffer = 0;
    bool warned_latency = false;
    int read_error = 0;

    for (;;) {
        if (loop.stop != nullptr && loop.stop->load(std::memory_order_relaxed) != 0) {
            result = LoopResult::interrupted;
            break;
        }
        // With instance threads, the input goes into the buffer that pairs
        // with the output buffer.
        std::size_t output_buffer = 0;
        if (pipeline.planar && !next_output(pipeline, output_buffer)) {
            break; // the writer failed
        }
        ChunkInput chunk;
        if (!at_end) {
            const InputChunk in = next_input(pipeline, output_buffer, input_buffer, has_input);
            input_buffer = in.buffer;
            has_input = in.outcome.frames > 0;
            if (in.outcome.frames == 0) {
                at_end = true;
                read_error = in.outcome.error;
                total_out = file_frames + loop.tail_frames;
                if (read_error != 0 || !extended) {
                    break;
                }
            } else {
                file_frames += in.outcome.frames;
                chunk.samples = pipeline.inputs[in.buffer].data;
                chunk.frames = in.outcome.frames;
                if (extended && chunk.frames % s.block_size != 0) {
                    // The last block of the file: silence after its end.
                    const std::size_t whole =
                        (chunk.frames / s.block_size + 1) * std::size_t{s.block_size};
                    std::memset(pipeline.inputs[in.buffer].data + chunk.frames * s.channels, 0,
                                (whole - chunk.frames) * s.channels * sizeof(float));
                    chunk.frames = whole;
                }
            }
        }
        if (at_end) {
            if (frames_out >= total_out) {
                break;
            }
            chunk.samples = nullptr;
            chunk.frames = silence_frames(stage, total_out - frames_out, pipeline.chunk_frames);
        }

        if (!pipeline.planar && !next_output(pipeline, output_buffer)) {
            break; // the writer failed
        }
        // Without latency to take out, every frame run is ready at once.
        // Else instances on threads of their own keep to their own stores,
        // so that they never write into the same cache lines.
        const bool direct = (!stage.compensate_latency || stage.latency_output < 0) &&
                            pool.threads.empty();
        ChunkOutput output;
        if (pipeline.planar) {
            output = ChunkOutput{pipeline.outputs[output_buffer].data, pipeline.chunk_frames, 1};
        } else if (direct) {
            output = ChunkOutput{pipeline.outputs[output_buffer].data, 1, width};
        }
        if (!pipeline.planar) {
            run_chunk(pool, chunk, output);
            warn_invalid_latency(stage, writer, warned_latency);
        }

        std::size_t ready = direct ? chunk.frames : ready_frames(stage);
        if (at_end || extended) {
            // Beyond the file's end only what the tail asks for is written;
            // before it, a file of unknown length may still end anywhere.
            const uint64_t limit = at_end ? total_out - frames_out
                                          : file_frames + loop.tail_frames - frames_out;
            ready = static_cast<std::size_t>(std::min<uint64_t>(ready, limit));
        }
        if (pipeline.planar) {
            pipeline.frames_to_write[output_buffer] = ready;
            publish_chunk(threads, ThreadChunk{chunk, output, output_buffer, false});
            frames_out += ready;
            continue;
        }
        if (!direct) {
            for (std::size_t m = 0; m < n_instances; ++m) {
                for (uint32_t q = 0; q < s.outputs; ++q) {
                    sources[m * s.outputs + q] = stage.stores[m].channels[q].data();
                }
            }
            if (ready > 0) {
                interleave_channels(ready, sources.data(), width,
                                    pipeline.outputs[output_buffer].data);
            }
            for (OutputStore& store : stage.stores) {
                consume_outputs(store, ready);
            }
        }
        frames_out += ready;
        if (!emit(pipeline, OutputChunk{output_buffer, ready, false, 0})) {
            break;
        }
    }

    if (pipeline.planar) {
        // A stop that came while the threads ran the last chunks counts as
        // one that came before the end.
        drain_instance_threads(threads);
        if (result == LoopResult::finished && loop.stop != nullptr &&
            loop.stop->load(std::memory_order_relaxed) != 0) {
            result = LoopResult::interrupted;
        }
        // The threads hand the end to the writer after the last chunk.
        pipeline.end_read_error = result == LoopResult::finished ? read_error : 0;
        finish_instance_threads(threads);
    } else {
        emit(pipeline, OutputChunk{0, 0, true, result == LoopResult::finished ? read_error : 0});
    }
    stop_pipeline(pipeline);
    stop_instance_pool(pool);
    if (loop.frames_written != nullptr) {
        *loop.frames_written = frames_out;
    }
    if (pipeline.writer_result != LoopResult::finished) {
        error = std::move(pipeline.writer_error);
        return pipeline.writer_result;
    }
    if (result == LoopResult::finished) {
        if (Status finished = finish_write_stage(writer); !finished) {
            error = finished.error();
            return LoopResult::write_failed;
        }
    }
    return result;
}

} // namespace tonbrix
