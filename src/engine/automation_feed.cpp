#include "engine/automation_feed.h"

#include <algorithm>

namespace tonbrix {

AutomationFeed::AutomationFeed(std::vector<AutomatedPort> ports, std::size_t instances,
                               uint32_t block_size, double rate)
    : ports_(std::move(ports)), block_size_(block_size), rate_(rate), lanes_(instances)
{
    for (auto& lane : lanes_) {
        for (const AutomatedPort& port : ports_) {
            lane.emplace_back(port.cv ? block_size_ : 1, start_value(lane.size()));
        }
    }
}

float AutomationFeed::start_value(std::size_t port) const
{
    return static_cast<float>(automation_value(ports_[port].points, 0.0));
}

void AutomationFeed::connect(std::size_t instance, LilvInstance* plugin)
{
    for (std::size_t p = 0; p < ports_.size(); ++p) {
        lilv_instance_connect_port(plugin, ports_[p].index, lanes_[instance][p].data());
    }
}

void AutomationFeed::set(std::size_t instance, uint64_t start) noexcept
{
    const double seconds = static_cast<double>(start) / rate_;
    for (std::size_t p = 0; p < ports_.size(); ++p) {
        std::vector<float>& values = lanes_[instance][p];
        std::fill(values.begin(), values.end(),
                  static_cast<float>(automation_value(ports_[p].points, seconds)));
    }
}

} // namespace tonbrix
