/* worker: schedules one 4-byte job in every run.
 *
 * work() answers every job with a 4-byte response and returns
 * LV2_WORKER_ERR_UNKNOWN; work_response() sets a flag and counts.
 * run(n): out[0] = 1 if the response had arrived by the time schedule_work
 * returned and schedule_work returned LV2_WORKER_SUCCESS, else 0;
 * out[1] = number of work_response calls so far in this instance;
 * out[f] = in[f] for f >= 2.
 */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <lv2/core/lv2.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

#include "lifecycle_log.h"

typedef struct {
    int k;
    const float* in;
    float* out;
    LV2_Worker_Schedule* schedule;
    uint32_t jobs;
    int responded;
    uint32_t responses;
} Worker;

static LV2_Handle instantiate(const LV2_Descriptor* d, double rate, const char* path,
                              const LV2_Feature* const* features)
{
    (void)d, (void)rate, (void)path;
    LV2_URID_Map* map = NULL;
    LV2_Worker_Schedule* schedule = NULL;
    for (int i = 0; features != NULL && features[i] != NULL; ++i) {
        if (strcmp(features[i]->URI, LV2_URID__map) == 0) {
            map = features[i]->data;
        } else if (strcmp(features[i]->URI, LV2_WORKER__schedule) == 0) {
            schedule = features[i]->data;
        }
    }
    if (map == NULL || schedule == NULL) {
        return NULL;
    }
    Worker* self = calloc(1, sizeof(Worker));
    if (self == NULL) {
        return NULL;
    }
    self->schedule = schedule;
    self->k = tb_next_instance();
    tb_log("instantiate", self->k);
    return self;
}

static void connect_port(LV2_Handle h, uint32_t port, void* data)
{
    Worker* self = h;
    switch (port) {
    case 0: self->in = data; break;
    case 1: self->out = data; break;
    default: break;
    }
}

static void activate(LV2_Handle h) { tb_log("activate", ((Worker*)h)->k); }

static void run(LV2_Handle h, uint32_t n)
{
    Worker* self = h;
    const uint32_t job = self->jobs++;
    self->responded = 0;
    const LV2_Worker_Status status =
        self->schedule->schedule_work(self->schedule->handle, sizeof job, &job);
    const float done = (self->responded && status == LV2_WORKER_SUCCESS) ? 1.0f : 0.0f;
    for (uint32_t f = 0; f < n; ++f) {
        if (f == 0) {
            self->out[f] = done;
        } else if (f == 1) {
            self->out[f] = (float)self->responses;
        } else {
            self->out[f] = self->in[f];
        }
    }
}

static void deactivate(LV2_Handle h) { tb_log("deactivate", ((Worker*)h)->k); }

static void cleanup(LV2_Handle h)
{
    tb_log("cleanup", ((Worker*)h)->k);
    free(h);
}

static LV2_Worker_Status work(LV2_Handle h, LV2_Worker_Respond_Function respond,
                              LV2_Worker_Respond_Handle handle, uint32_t size, const void* data)
{
    (void)h;
    uint32_t answer = 0;
    if (size == sizeof answer && data != NULL) {
        memcpy(&answer, data, sizeof answer);
    }
    respond(handle, sizeof answer, &answer);
    return LV2_WORKER_ERR_UNKNOWN;
}

static LV2_Worker_Status work_response(LV2_Handle h, uint32_t size, const void* body)
{
    (void)size, (void)body;
    Worker* self = h;
    self->responded = 1;
    ++self->responses;
    return LV2_WORKER_SUCCESS;
}

static const void* extension_data(const char* uri)
{
    static const LV2_Worker_Interface worker = {work, work_response, NULL};
    return strcmp(uri, LV2_WORKER__interface) == 0 ? &worker : NULL;
}

static const LV2_Descriptor descriptor = {
    "http://tonbrix.test/plugins/worker",
    instantiate, connect_port, activate, run, deactivate, cleanup, extension_data,
};

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index)
{
    return index == 0 ? &descriptor : NULL;
}
