#pragma once

#include <tonbrix/export.h>

#include <atomic>

namespace tonbrix {

// A request to end runs and batches early, made from a signal handler or
// another thread: a run ends as "stopped" after the block it is in, a
// batch passes each request on to its workers and starts no further job.
// Every call is lock-free and async-signal-safe.
class TONBRIX_API StopRequest {
public:
    // Asks to stop; `reason` (e.g. a signal number, above 0) is kept from
    // the first request, and the last one's is passed on by batches. True
    // for the first request.
    bool request(int reason = 1) noexcept
    {
        int none = 0;
        const bool first = first_.compare_exchange_strong(none, reason);
        last_.store(reason);
        count_.fetch_add(1);
        return first;
    }
    bool requested() const noexcept { return first_.load(std::memory_order_relaxed) != 0; }
    // The first request's reason; 0 before any.
    int reason() const noexcept { return first_.load(); }
    // The last request's reason and the number of requests so far.
    int last_reason() const noexcept { return last_.load(); }
    int count() const noexcept { return count_.load(); }
    // The first reason as a flag the library's loops read.
    const std::atomic<int>& flag() const noexcept { return first_; }

private:
    std::atomic<int> first_{0};
    std::atomic<int> last_{0};
    std::atomic<int> count_{0};
};

} // namespace tonbrix
