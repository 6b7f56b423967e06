/* workernull: asks for the worker but hands out no worker interface.
 *
 * It lists work:schedule and work:interface in its description, yet its
 * extension_data returns NULL for every URI. run(n) schedules one job and
 * puts what schedule_work returned into out[0] (as a float: 0 for
 * LV2_WORKER_SUCCESS, 1 for LV2_WORKER_ERR_UNKNOWN); out[f] = in[f] for f >= 1.
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
} WorkerNull;

static LV2_Handle instantiate(const LV2_Descriptor* d, double rate, const char* path,
                              const LV2_Feature* const* features)
{
    (void)d, (void)rate, (void)path;
    LV2_Worker_Schedule* schedule = NULL;
    for (int i = 0; features != NULL && features[i] != NULL; ++i) {
        if (strcmp(features[i]->URI, LV2_WORKER__schedule) == 0) {
            schedule = features[i]->data;
        }
    }
    if (schedule == NULL) {
        return NULL;
    }
    WorkerNull* self = calloc(1, sizeof(WorkerNull));
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
    WorkerNull* self = h;
    switch (port) {
    case 0: self->in = data; break;
    case 1: self->out = data; break;
    default: break;
    }
}

static void run(LV2_Handle h, uint32_t n)
{
    WorkerNull* self = h;
    const uint32_t job = 7;
    const LV2_Worker_Status status =
        self->schedule->schedule_work(self->schedule->handle, sizeof job, &job);
    for (uint32_t f = 0; f < n; ++f) {
        self->out[f] = f == 0 ? (float)status : self->in[f];
    }
}

static void cleanup(LV2_Handle h)
{
    tb_log("cleanup", ((WorkerNull*)h)->k);
    free(h);
}

static const void* extension_data(const char* uri)
{
    (void)uri;
    return NULL;
}

static const LV2_Descriptor descriptor = {
    "http://tonbrix.test/plugins/workernull",
    instantiate, connect_port, NULL, run, NULL, cleanup, extension_data,
};

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index)
{
    return index == 0 ? &descriptor : NULL;
}
