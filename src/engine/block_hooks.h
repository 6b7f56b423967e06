#pragma once

#include <tonbrix/graph.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tonbrix {

// Work a plugin node does around each run of one of its instances: events
// and control changes go into the instance's ports before the run, and what
// the run wrote is taken out after it. `start` is the frame of the node's
// input stream where the block begins (0 is the first frame of the input;
// blocks after its end go on counting), `frames` the frames the block runs.
// `given` holds the events that the node before gave for the block, in
// frame order; `gives` is where the instance's own events for the node after
// go (null when none takes them).
// Both calls come from the thread that runs the instance and never for two
// blocks of one instance at once, but the instances of a node may be run
// on different threads at the same time: a hook touches only the state of
// the instance it is called for.
class BlockHooks {
public:
    virtual ~BlockHooks() = default;
    virtual void before_block(std::size_t /*instance*/, uint64_t /*start*/, uint32_t /*frames*/,
                              std::span<const StreamEvent> /*given*/) noexcept
    {
    }
    virtual void after_block(std::size_t /*instance*/, uint64_t /*start*/, uint32_t /*frames*/,
                             std::vector<StreamEvent>* /*gives*/) noexcept
    {
    }
};

} // namespace tonbrix
