#include "engine/instance_threads.h"

#include <system_error>

namespace tonbrix {

namespace {

void instance_thread(InstanceThreads* threads, std::size_t thread)
{
    RunStage& stage = *threads->stage;
    const std::size_t stride = threads->thread_count;
    const std::size_t depth = threads->ring.size();
    for (uint64_t next = 0;; ++next) {
        ThreadChunk chunk;
        {
            std::unique_lock lock(threads->mutex);
            if (threads->published == next) {
                ++threads->waiting_threads;
                threads->work.wait(lock, [&] { return threads->published != next; });
                --threads->waiting_threads;
            }
            chunk = threads->ring[next % depth];
        }
        if (!chunk.end) {
            for (std::size_t m = thread; m < stage.instances->size(); m += stride) {
                run_instance_chunk(stage, m, chunk.input, chunk.output);
            }
        }
        bool last = false;
        {
            std::lock_guard lock(threads->mutex);
            last = --threads->unfinished[next % depth] == 0;
        }
        if (last) {
            // The other threads are past this chunk: nobody else calls
            // `finished` until this thread has run its next chunk.
            threads->finished(threads->context, chunk);
            bool wake = false;
            {
                std::lock_guard lock(threads->mutex);
                ++threads->done;
                wake = threads->publisher_waits;
            }
            // Woken after the lock is let go, the publisher finds it free.
            if (wake) {
                threads->room.notify_one();
            }
        }
        if (chunk.end) {
            return;
        }
    }
}

} // namespace

bool start_instance_threads(InstanceThreads& threads, RunStage& stage, std::size_t thread_count,
                            std::size_t depth, ChunkFinished finished, void* context)
{
    threads.stage = &stage;
    threads.finished = finished;
    threads.context = context;
    threads.thread_count = thread_count;
    threads.ring.assign(depth, ThreadChunk{});
    threads.unfinished.assign(depth, 0);
    try {
        threads.threads.reserve(thread_count);
        for (std::size_t t = 0; t < thread_count; ++t) {
            threads.threads.emplace_back(instance_thread, &threads, t);
        }
    } catch (const std::system_error&) {
        finish_instance_threads(threads);
        return false;
    }
    return true;
}

void publish_chunk(InstanceThreads& threads, const ThreadChunk& chunk)
{
    const std::size_t depth = threads.ring.size();
    std::unique_lock lock(threads.mutex);
    if (threads.published - threads.done >= depth) {
        threads.publisher_waits = true;
        threads.room.wait(lock, [&] { return threads.published - threads.done < depth; });
        threads.publisher_waits = false;
    }
    threads.ring[threads.published % depth] = chunk;
    threads.unfinished[threads.published % depth] = threads.threads.size();
    ++threads.published;
    const bool wake = threads.waiting_threads > 0;
    lock.unlock();
    if (wake) {
        threads.work.notify_all();
    }
}

void drain_instance_threads(InstanceThreads& threads)
{
    std::unique_lock lock(threads.mutex);
    threads.publisher_waits = true;
    threads.room.wait(lock, [&] { return threads.done == threads.published; });
    threads.publisher_waits = false;
}

void finish_instance_threads(InstanceThreads& threads) noexcept
{
    if (threads.threads.empty()) {
        return;
    }
    ThreadChunk end;
    end.end = true;
    publish_chunk(threads, end);
    for (std::thread& thread : threads.threads) {
        thread.join();
    }
    threads.threads.clear();
}

InstanceThreads::~InstanceThreads()
{
    finish_instance_threads(*this);
}

} // namespace tonbrix
