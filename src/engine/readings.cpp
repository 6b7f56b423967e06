#include "engine/readings.h"

#include <cmath>
#include <new>

namespace tonbrix {

void start_readings(ReadingRecorder& recorder, double period_frames, const RunBuffers& buffers,
                    std::size_t instances)
{
    recorder.period_frames = period_frames;
    recorder.buffers = &buffers;
    recorder.lanes.assign(instances, ReadingRecorder::Lane{});
}

void record_block(void* context, std::size_t instance, uint32_t frames) noexcept
{
    auto* recorder = static_cast<ReadingRecorder*>(context);
    ReadingRecorder::Lane& lane = recorder->lanes[instance];
    lane.frames_run += frames;
    const auto run = static_cast<double>(lane.frames_run);
    if (run < static_cast<double>(lane.next_period) * recorder->period_frames ||
        lane.out_of_memory) {
        return;
    }
    // Periods that end within the same block share its reading.
    lane.next_period = static_cast<uint64_t>(std::floor(run / recorder->period_frames)) + 1;
    while (static_cast<double>(lane.next_period) * recorder->period_frames <= run) {
        ++lane.next_period;
    }
    const std::vector<float>& outputs = recorder->buffers->instances[instance].control_outputs;
    try {
        lane.frames.push_back(lane.frames_run);
        lane.values.insert(lane.values.end(), outputs.begin(), outputs.end());
    } catch (const std::bad_alloc&) {
        lane.out_of_memory = true;
    }
}

Reading final_reading(const RunBuffers& buffers, uint64_t end_frame)
{
    Reading reading;
    reading.frame = end_frame;
    for (const InstanceBuffers& instance : buffers.instances) {
        reading.values.push_back(instance.control_outputs);
    }
    return reading;
}

bool collect_readings(const ReadingRecorder& recorder, uint64_t end_frame,
                      std::vector<Reading>& readings)
{
    readings.clear();
    for (const ReadingRecorder::Lane& lane : recorder.lanes) {
        if (lane.out_of_memory) {
            return false;
        }
    }
    // Every instance runs the same blocks, so the lanes hold the same frames.
    const std::size_t count = recorder.lanes.empty() ? 0 : recorder.lanes[0].frames.size();
    const std::size_t width = recorder.buffers->instances.empty()
                                  ? 0
                                  : recorder.buffers->instances[0].control_outputs.size();
    for (std::size_t i = 0; i < count; ++i) {
        const uint64_t frame = recorder.lanes[0].frames[i];
        if (frame >= end_frame) {
            break;
        }
        Reading reading;
        reading.frame = frame;
        for (const ReadingRecorder::Lane& lane : recorder.lanes) {
            const auto first = lane.values.begin() + static_cast<std::ptrdiff_t>(i * width);
            reading.values.emplace_back(first, first + static_cast<std::ptrdiff_t>(width));
        }
        readings.push_back(std::move(reading));
    }
    readings.push_back(final_reading(*recorder.buffers, end_frame));
    return true;
}

} // namespace tonbrix
