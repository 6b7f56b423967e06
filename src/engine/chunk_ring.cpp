#include "engine/chunk_ring.h"

namespace tonbrix {

bool ChunkRing::allocate(std::size_t depth, uint32_t channels, std::size_t frames,
                         std::size_t writers, std::size_t readers, bool interleaved,
                         std::size_t parts)
{
    channels_ = channels;
    stride_ = interleaved ? 1 : frames;
    step_ = interleaved ? channels : 1;
    writers_ = writers;
    readers_ = readers;
    std::size_t per_slot = 0;
    std::size_t total = 0;
    if (!checked_product({channels, frames}, per_slot) ||
        !checked_product({per_slot, depth}, total) || !samples_.allocate(total)) {
        return false;
    }
    slots_.resize(depth);
    for (std::size_t i = 0; i < depth; ++i) {
        slots_[i].samples = samples_.data + i * per_slot;
        slots_[i].part_events.resize(parts);
        slots_[i].part_held.resize(parts);
    }
    writers_left_.assign(depth, writers);
    readers_left_.assign(depth, readers);
    latency.assign(channels, 0);
    return true;
}

RingSlot* ChunkRing::begin_write(uint64_t k)
{
    std::unique_lock lock(mutex_);
    if (!closed_ && k - released_ >= slots_.size()) {
        ++waiting_writers_;
        room_.wait(lock, [&] { return closed_ || k - released_ < slots_.size(); });
        --waiting_writers_;
    }
    return closed_ ? nullptr : &slots_[k % slots_.size()];
}

bool ChunkRing::end_write(uint64_t k)
{
    std::lock_guard lock(mutex_);
    return --writers_left_[k % slots_.size()] == 0;
}

void ChunkRing::publish(uint64_t k)
{
    std::unique_lock lock(mutex_);
    published_ = k + 1;
    const bool wake = waiting_readers_ > 0;
    lock.unlock();
    if (wake) {
        ready_.notify_all();
    }
}

RingSlot* ChunkRing::begin_read(uint64_t k)
{
    std::unique_lock lock(mutex_);
    if (!closed_ && published_ <= k) {
        ++waiting_readers_;
        ready_.wait(lock, [&] { return closed_ || published_ > k; });
        --waiting_readers_;
    }
    return closed_ ? nullptr : &slots_[k % slots_.size()];
}

bool ChunkRing::wait_published(uint64_t k)
{
    std::unique_lock lock(mutex_);
    if (!closed_ && published_ <= k) {
        ++waiting_readers_;
        ready_.wait(lock, [&] { return closed_ || published_ > k; });
        --waiting_readers_;
    }
    return !closed_;
}

void ChunkRing::end_read(uint64_t k)
{
    std::unique_lock lock(mutex_);
    const std::size_t slot = k % slots_.size();
    if (--readers_left_[slot] != 0) {
        return;
    }
    // Chunks are released in order: each reader goes through them in order.
    readers_left_[slot] = readers_;
    writers_left_[slot] = writers_;
    released_ = k + 1;
    const bool wake = waiting_writers_ > 0;
    lock.unlock();
    if (wake) {
        room_.notify_all();
    }
}

void ChunkRing::close()
{
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    room_.notify_all();
    ready_.notify_all();
}

} // namespace tonbrix
