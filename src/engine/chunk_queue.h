#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>

namespace tonbrix {

// A bounded first-in first-out queue between threads. Closing it wakes
// both sides: pushes fail from then on, pops drain what is left. A side is
// only woken when what it waits for is there, and after the lock is let
// go (a woken thread that finds it taken would sleep again at once): each
// wake costs a switch between threads.
template <class T>
struct ChunkQueue {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<T> items;
    std::size_t capacity = 1;
    std::size_t wanted = 0;          // items a waiting pop waits for; 0: none waits
    std::size_t waiting_pushes = 0;  // pushes waiting for room
    bool closed = false;
};

// Waits for room; false when the queue was closed.
template <class T>
bool queue_push(ChunkQueue<T>& q, T item)
{
    std::unique_lock lock(q.mutex);
    if (!q.closed && q.items.size() >= q.capacity) {
        ++q.waiting_pushes;
        q.changed.wait(lock, [&] { return q.closed || q.items.size() < q.capacity; });
        --q.waiting_pushes;
    }
    if (q.closed) {
        return false;
    }
    q.items.push_back(std::move(item));
    const bool wake = q.wanted != 0 && q.items.size() >= q.wanted;
    lock.unlock();
    if (wake) {
        q.changed.notify_all();
    }
    return true;
}

// Waits for an item; false when the queue is closed and empty. Once empty,
// it waits until `refill` items are there (no more than fit, or until the
// queue is closed), so that a side that keeps up with the other sleeps once
// per `refill` items.
template <class T>
bool queue_pop(ChunkQueue<T>& q, T& item, std::size_t refill = 1)
{
    std::unique_lock lock(q.mutex);
    refill = refill < 1 ? 1 : refill > q.capacity ? q.capacity : refill;
    if (q.items.empty() && !q.closed) {
        q.wanted = refill;
        q.changed.wait(lock, [&] { return q.closed || q.items.size() >= refill; });
        q.wanted = 0;
    }
    if (q.items.empty()) {
        return false;
    }
    item = std::move(q.items.front());
    q.items.pop_front();
    const bool wake = q.waiting_pushes > 0;
    lock.unlock();
    if (wake) {
        q.changed.notify_all();
    }
    return true;
}

template <class T>
void queue_close(ChunkQueue<T>& q)
{
    {
        std::lock_guard lock(q.mutex);
        q.closed = true;
    }
    q.changed.notify_all();
}

} // namespace tonbrix
