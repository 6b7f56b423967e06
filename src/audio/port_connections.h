#pragma once

#include "audio/ports.h"
#include "audio/run_buffers.h"

#include <lilv/lilv.h>

#include <cstddef>

// Connects every port of instance `m` to its place in the run buffers.
void connect_instance_ports(const PortIndexLists& lists, LilvInstance* instance, std::size_t m,
                            const BlockShape& shape, RunBuffers& buffers);
