#include "lv2/instance_events.h"

#include <string>

namespace tonbrix {

void InstanceEvents::report(EventKind kind, std::string_view text) noexcept
{
    const std::lock_guard<std::mutex> guard(lock_);
    if (sink_ == nullptr) {
        return;
    }
    if (held_ != nullptr) {
        try {
            held_->push_back({block_, kind, std::string(text), sink_});
            return;
        } catch (...) {
            // Without memory to hold it, the event goes on now.
        }
    }
    sink_->report(kind, text);
}

void InstanceEvents::send_to(EventSink* sink) noexcept
{
    const std::lock_guard<std::mutex> guard(lock_);
    sink_ = sink;
}

void InstanceEvents::hold(std::vector<HeldEvent>* held, std::size_t block) noexcept
{
    const std::lock_guard<std::mutex> guard(lock_);
    held_ = held;
    block_ = block;
}

void InstanceEvents::release() noexcept
{
    const std::lock_guard<std::mutex> guard(lock_);
    held_ = nullptr;
}

} // namespace tonbrix
