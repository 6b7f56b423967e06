#pragma once

#include <tonbrix/midi.h>

#include <cstdint>
#include <vector>

namespace tonbrix {

} // namespace tonbrix
