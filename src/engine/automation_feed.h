#pragma once

#include "engine/automation.h"

#include <lilv/lilv.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tonbrix {

// A control or CV input that follows an envelope over the run.
struct AutomatedPort {
    uint32_t index = 0; // the LV2 port index
    bool cv = false;    // a CV input, read at every frame
    std::vector<AutomationPoint> points; // not empty, in increasing time
};

// Sets the automated inputs of every instance at the start of each block to
// their envelope's value there. Each instance reads values of its own, so
// instances may be set on different threads at once.
class AutomationFeed {
public:
    AutomationFeed(std::vector<AutomatedPort> ports, std::size_t instances, uint32_t block_size,
                   double rate);

    // Connects the instance's automated ports to its own values, which then
    // hold the values at the start of the run.
    void connect(std::size_t instance, LilvInstance* plugin);

    // The value that `port` holds at the start of the run.
    float start_value(std::size_t port) const;

    // Sets the instance's values for the block that starts at frame `start`.
    void set(std::size_t instance, uint64_t start) noexcept;

    // The value an instance's port holds now (for tests).
    float value(std::size_t instance, std::size_t port) const
    {
        return lanes_[instance][port].front();
    }

private:
    std::vector<AutomatedPort> ports_;
    uint32_t block_size_;
    double rate_;
    // [instance][port]: one value for a control input, a block for a CV input.
    std::vector<std::vector<std::vector<float>>> lanes_;
};

} // namespace tonbrix
