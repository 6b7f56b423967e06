#pragma once

#include "lv2/parameters.h"

#include <lv2/atom/atom.h>
#include <lv2/urid/urid.h>

#include <cstdint>
#include <vector>

namespace tonbrix {

// Writes a sequence holding one patch:Set event (patch:property,
// patch:value) per value, all at frame 0, over the sequence in `buffer`,
// which has room for `body_capacity` bytes after the atom header. False
// when the messages do not fit; the buffer then holds an empty sequence.
bool write_patch_sets(LV2_Atom_Sequence* buffer, uint32_t body_capacity,
                      const std::vector<ParameterValue>& values, LV2_URID_Map* map);

} // namespace tonbrix
