#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>

// A bounded first-in first-out queue between two threads. Closing it wakes
// both sides: pushes fail from then on, pops drain what is left.
template <class T>
struct ChunkQueue {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<T> items;
    std::size_t capacity = 1;
    bool closed = false;
};

// Waits for room; false when the queue was closed.
template <class T>
bool queue_push(ChunkQueue<T>& q, T item)
{
    std::unique_lock lock(q.mutex);
    q.changed.wait(lock, [&] { return q.closed || q.items.size() < q.capacity; });
    if (q.closed) {
        return false;
    }
    q.items.push_back(std::move(item));
    q.changed.notify_all();
    return true;
}

// Waits for an item; false when the queue is closed and empty.
template <class T>
bool queue_pop(ChunkQueue<T>& q, T& item)
{
    std::unique_lock lock(q.mutex);
    q.changed.wait(lock, [&] { return q.closed || !q.items.empty(); });
    if (q.items.empty()) {
        return false;
    }
    item = std::move(q.items.front());
    q.items.pop_front();
    q.changed.notify_all();
    return true;
}

template <class T>
void queue_close(ChunkQueue<T>& q)
{
    std::lock_guard lock(q.mutex);
    q.closed = true;
    q.changed.notify_all();
}
