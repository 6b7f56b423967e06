#pragma once

#include "lv2/ports.h"
#include "lv2/run_buffers.h"

#include <lilv/lilv.h>

#include <cstddef>

namespace tonbrix {

// Connects every port of instance `m` to its place in the run buffers.
void connect_instance_ports(const PortIndexLists& lists, LilvInstance* instance, std::size_t m,
                            const BlockShape& shape, RunBuffers& buffers);

} // namespace tonbrix
