#include "io/side_thread.h"

#include <system_error>

namespace tonbrix {

SideThread::~SideThread()
{
    if (!thread_.joinable()) {
        return;
    }
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        closing_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

bool SideThread::open()
{
    try {
        thread_ = std::thread([this] { main(); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void SideThread::start(std::function<void()> task)
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        task_ = std::move(task);
        busy_ = true;
    }
    changed_.notify_all();
}

void SideThread::wait()
{
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !busy_; });
}

void SideThread::main()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return busy_ || closing_; });
        if (closing_ && !busy_) {
            return;
        }
        std::function<void()> task = std::move(task_);
        lock.unlock();
        task();
        lock.lock();
        busy_ = false;
        changed_.notify_all();
    }
}

} // namespace tonbrix
