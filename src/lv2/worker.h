#pragma once

#include <lv2/core/lv2.h>
#include <lv2/worker/worker.h>

#include <cstdio>

// What one instance's schedule feature hands back to the host: the instance
// that schedules, its worker interface, and the stream for the trace line.
struct WorkerContext {
    LV2_Handle instance = nullptr;
    const LV2_Worker_Interface* interface = nullptr;
    FILE* trace = nullptr; // null: no trace line
    // Called before each trace line, when set (it clears the progress line).
    void (*before_trace)(void* context) = nullptr;
    void* before_trace_context = nullptr;
};

extern "C" {
// Runs the work at once, inside the plugin's call; its responses are
// delivered before this returns.
LV2_Worker_Status lv2_worker_schedule(LV2_Worker_Schedule_Handle handle, uint32_t size,
                                      const void* data);
LV2_Worker_Status worker_respond(LV2_Worker_Respond_Handle handle, uint32_t size,
                                 const void* data);
}
