#include "lv2/worker.h"

namespace tonbrix {

extern "C" LV2_Worker_Status lv2_worker_schedule(LV2_Worker_Schedule_Handle handle,
                                                 uint32_t size, const void* data)
{
    auto* context = static_cast<WorkerContext*>(handle);
    if (context == nullptr || context->interface == nullptr ||
        context->interface->work == nullptr) {
        return LV2_WORKER_ERR_UNKNOWN;
    }
    ++context->scheduled;
    if (context->events != nullptr) {
        context->events->report(EventKind::worker_trace, worker_trace_line);
    }
    context->interface->work(context->instance, worker_respond, context, size, data);
    return LV2_WORKER_SUCCESS;
}

extern "C" LV2_Worker_Status worker_respond(LV2_Worker_Respond_Handle handle, uint32_t size,
                                            const void* data)
{
    auto* context = static_cast<WorkerContext*>(handle);
    if (context == nullptr || (data == nullptr && size != 0)) {
        return LV2_WORKER_ERR_UNKNOWN;
    }
    try {
        const auto* bytes = static_cast<const uint8_t*>(data);
        context->responses.emplace_back(bytes, bytes + size);
    } catch (...) {
        return LV2_WORKER_ERR_NO_SPACE;
    }
    return LV2_WORKER_SUCCESS;
}

void deliver_worker_responses(WorkerContext& context) noexcept
{
    const LV2_Worker_Interface* interface = context.interface;
    if (interface == nullptr || context.responses.empty()) {
        return;
    }
    // A response may schedule more work, whose responses wait for the next
    // run: only the responses queued so far are delivered now.
    std::vector<std::vector<uint8_t>> ready;
    ready.swap(context.responses);
    if (interface->work_response != nullptr) {
        for (const std::vector<uint8_t>& response : ready) {
            interface->work_response(context.instance, static_cast<uint32_t>(response.size()),
                                     response.data());
        }
    }
}

void end_worker_run(WorkerContext& context) noexcept
{
    deliver_worker_responses(context);
    if (context.interface != nullptr && context.interface->end_run != nullptr) {
        context.interface->end_run(context.instance);
    }
}

} // namespace tonbrix
