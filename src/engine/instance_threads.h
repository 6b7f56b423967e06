#pragma once

#include "engine/run_stage.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace tonbrix {

// One chunk for the instance threads. `slot` is the caller's: it names
// the chunk when it is handed back. The last chunk is `end`: it carries no
// work and ends the threads.
struct ThreadChunk {
    ChunkInput input;
    ChunkOutput output;
    std::size_t slot = 0;
    bool end = false;
};

// Called once per chunk, in the order the chunks were published, when
// every instance has run over it (the end chunk included). It runs on the
// thread that finished the chunk last, never on two threads at once.
using ChunkFinished = void (*)(void* context, const ThreadChunk& chunk);

// Threads that run the instances chunk after chunk, each at its own pace:
// thread t runs instances t, t + T, ... over every chunk as soon as it is
// published, without waiting for the other threads to finish the chunk
// before. So no instance is ever run by two threads at once, and a thread
// that falls behind catches up on the chunks in flight. None of them runs
// the outputs through a store: use them only without latency to take out.
struct InstanceThreads {
    RunStage* stage = nullptr;
    ChunkFinished finished = nullptr;
    void* context = nullptr;
    std::size_t thread_count = 1; // T
    std::vector<ThreadChunk> ring; // chunk k in ring[k % size]
    std::vector<std::size_t> unfinished; // by ring place: threads not done with it
    std::mutex mutex;
    std::condition_variable work;   // a chunk was published
    std::condition_variable room;   // a chunk was finished
    uint64_t published = 0;
    uint64_t done = 0;              // chunks finished by every thread
    std::size_t waiting_threads = 0;
    bool publisher_waits = false;
    std::vector<std::thread> threads;

    InstanceThreads() = default;
    InstanceThreads(const InstanceThreads&) = delete;
    InstanceThreads& operator=(const InstanceThreads&) = delete;
    ~InstanceThreads();
};

// Starts `thread_count` threads (at least 1) and keeps `depth` chunks in
// flight at most. False when a thread could not be started: none is left
// running then.
bool start_instance_threads(InstanceThreads& threads, RunStage& stage, std::size_t thread_count,
                            std::size_t depth, ChunkFinished finished, void* context);

// Hands a chunk to the threads; waits while `depth` chunks are in flight.
void publish_chunk(InstanceThreads& threads, const ThreadChunk& chunk);

// Waits until every chunk published is finished.
void drain_instance_threads(InstanceThreads& threads);

// Publishes the end chunk and joins the threads once they have finished
// every chunk.
void finish_instance_threads(InstanceThreads& threads) noexcept;

} // namespace tonbrix
