#pragma once

#include <tonbrix/events.h>

#include <lv2/core/lv2.h>
#include <lv2/worker/worker.h>

#include <cstdint>
#include <vector>

namespace tonbrix {

// One instance's worker, as a careful host runs it: the work runs at once,
// inside the plugin's schedule_work call, but its responses wait in a queue
// until the plugin's run has returned; then they are delivered in order and
// end_run is called. A plugin is thus never re-entered during its run.
// Each context serves one instance, on the thread that runs it.
struct WorkerContext {
    LV2_Handle instance = nullptr;
    const LV2_Worker_Interface* interface = nullptr;
    EventSink* events = nullptr; // receives a trace line for every schedule
    std::vector<std::vector<uint8_t>> responses; // waiting for the end of the run
    // Jobs scheduled so far; only the instance's own thread touches it.
    uint64_t scheduled = 0;
};

extern "C" {
// Traces the call, then runs the work at once; its responses are queued.
LV2_Worker_Status lv2_worker_schedule(LV2_Worker_Schedule_Handle handle, uint32_t size,
                                      const void* data);
// Queues a response; LV2_WORKER_ERR_NO_SPACE when memory runs out.
LV2_Worker_Status worker_respond(LV2_Worker_Respond_Handle handle, uint32_t size,
                                 const void* data);
}

// Delivers the queued responses in order. Outside a run (after a state is
// restored) the plugin thus has what it asked for before its first run.
void deliver_worker_responses(WorkerContext& context) noexcept;

// After the instance's run: delivers the queued responses in order, then
// calls end_run when the plugin has it.
void end_worker_run(WorkerContext& context) noexcept;

// The text of the trace line reported for every schedule_work call.
inline constexpr const char* worker_trace_line = "lv2_worker_schedule..\n";

} // namespace tonbrix
