#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace tonbrix {

// A thread that runs one task at a time beside the caller's own work:
// start() hands it the task, wait() returns once it is done. A stage uses
// it to split each step of its work in two halves.
class SideThread {
public:
    SideThread() = default;
    SideThread(const SideThread&) = delete;
    SideThread& operator=(const SideThread&) = delete;
    ~SideThread();

    // Starts the thread; false when it cannot be had (the caller then does
    // the work itself).
    bool open();
    bool running() const { return thread_.joinable(); }

    // Runs `task` on the thread; the caller must wait() before the next.
    void start(std::function<void()> task);
    void wait();

private:
    void main();

    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::function<void()> task_;
    bool busy_ = false;
    bool closing_ = false;
};

} // namespace tonbrix
