#include "lv2/transport.h"

#include <algorithm>
#include <cmath>

namespace tonbrix {

std::int64_t frame_of(double seconds, double rate)
{
    // Beyond ±2^62 frames (millions of years) the frame is held there.
    constexpr double limit = 4611686018427387904.0;
    const double frame = seconds * rate;
    if (std::isnan(frame)) {
        return 0;
    }
    return std::llround(std::clamp(frame, -limit, limit));
}

std::vector<TransportPosition> transport_positions(std::span<const TempoChange> tempo_changes,
                                                   double rate)
{
    std::vector<TransportPosition> positions = {{0, 0.0, default_midi_bpm}};
    double seconds = 0.0;
    for (const TempoChange& change : tempo_changes) {
        TransportPosition& last = positions.back();
        if (change.seconds <= 0.0) {
            last.bpm = change.bpm;
            continue;
        }
        const double beat = last.beat + (change.seconds - seconds) * last.bpm / 60.0;
        positions.push_back({frame_of(change.seconds, rate), beat, change.bpm});
        seconds = change.seconds;
    }
    return positions;
}

} // namespace tonbrix
