#include "lv2/worker.h"

extern "C" LV2_Worker_Status lv2_worker_schedule(LV2_Worker_Schedule_Handle handle,
                                                 uint32_t size, const void* data)
{
    auto* context = static_cast<WorkerContext*>(handle);
    if (context == nullptr || context->interface == nullptr ||
        context->interface->work == nullptr) {
        return LV2_WORKER_ERR_UNKNOWN;
    }
    if (context->trace != nullptr) {
        if (context->before_trace != nullptr) {
            context->before_trace(context->before_trace_context);
        }
        std::fputs("lv2_worker_schedule..\n", context->trace);
    }
    context->interface->work(context->instance, worker_respond, context, size, data);
    return LV2_WORKER_SUCCESS;
}

extern "C" LV2_Worker_Status worker_respond(LV2_Worker_Respond_Handle handle, uint32_t size,
                                            const void* data)
{
    auto* context = static_cast<WorkerContext*>(handle);
    if (context != nullptr && context->interface != nullptr &&
        context->interface->work_response != nullptr) {
        context->interface->work_response(context->instance, size, data);
    }
    return LV2_WORKER_SUCCESS;
}
