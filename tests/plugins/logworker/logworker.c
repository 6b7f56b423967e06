/* logworker: a worker plugin that logs while it runs.
 *
 * Every run schedules one 4-byte job (the run number r, from 0 for each
 * instance) and copies in to out. Through log:log, when given: run logs the
 * warning "logworker <k>: run <r>" when r % every == 0, and the work logs
 * the error "logworker <k>: work <r>" when r % every == 1, k being the
 * instance's number in the process.
 */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <lv2/core/lv2.h>
#include <lv2/log/log.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

#include "lifecycle_log.h"

typedef struct {
    int k;
    const float* in;
    float* out;
    const float* every;
    LV2_Worker_Schedule* schedule;
    LV2_Log_Log* log;
    LV2_URID log_error;
    LV2_URID log_warning;
    uint32_t runs;
} LogWorker;

static LV2_Handle instantiate(const LV2_Descriptor* d, double rate, const char* path,
                              const LV2_Feature* const* features)
{
    (void)d, (void)rate, (void)path;
    LV2_URID_Map* map = NULL;
    LV2_Worker_Schedule* schedule = NULL;
    LV2_Log_Log* log = NULL;
    for (int i = 0; features != NULL && features[i] != NULL; ++i) {
        if (strcmp(features[i]->URI, LV2_URID__map) == 0) {
            map = features[i]->data;
        } else if (strcmp(features[i]->URI, LV2_WORKER__schedule) == 0) {
            schedule = features[i]->data;
        } else if (strcmp(features[i]->URI, LV2_LOG__log) == 0) {
            log = features[i]->data;
        }
    }
    if (map == NULL || schedule == NULL) {
        return NULL;
    }
    LogWorker* self = calloc(1, sizeof(LogWorker));
    if (self == NULL) {
        return NULL;
    }
    self->schedule = schedule;
    self->log = log;
    self->log_error = map->map(map->handle, LV2_LOG__Error);
    self->log_warning = map->map(map->handle, LV2_LOG__Warning);
    self->k = tb_next_instance();
    tb_log("instantiate", self->k);
    return self;
}

static void connect_port(LV2_Handle h, uint32_t port, void* data)
{
    LogWorker* self = h;
    switch (port) {
    case 0: self->in = data; break;
    case 1: self->out = data; break;
    case 2: self->every = data; break;
    default: break;
    }
}

static uint32_t every(const LogWorker* self)
{
    const float value = self->every != NULL ? *self->every : 3.0f;
    return value >= 1.0f ? (uint32_t)value : 1u;
}

static void run(LV2_Handle h, uint32_t n)
{
    LogWorker* self = h;
    const uint32_t r = self->runs++;
    if (self->log != NULL && r % every(self) == 0) {
        self->log->printf(self->log->handle, self->log_warning, "logworker %d: run %u\n", self->k,
                          (unsigned)r);
    }
    self->schedule->schedule_work(self->schedule->handle, sizeof r, &r);
    memmove(self->out, self->in, n * sizeof(float));
}

static void cleanup(LV2_Handle h)
{
    tb_log("cleanup", ((LogWorker*)h)->k);
    free(h);
}

static LV2_Worker_Status work(LV2_Handle h, LV2_Worker_Respond_Function respond,
                              LV2_Worker_Respond_Handle handle, uint32_t size, const void* data)
{
    LogWorker* self = h;
    uint32_t r = 0;
    if (size == sizeof r && data != NULL) {
        memcpy(&r, data, sizeof r);
    }
    if (self->log != NULL && r % every(self) == 1) {
        self->log->printf(self->log->handle, self->log_error, "logworker %d: work %u\n", self->k,
                          (unsigned)r);
    }
    respond(handle, sizeof r, &r);
    return LV2_WORKER_SUCCESS;
}

static LV2_Worker_Status work_response(LV2_Handle h, uint32_t size, const void* body)
{
    (void)h, (void)size, (void)body;
    return LV2_WORKER_SUCCESS;
}

static const void* extension_data(const char* uri)
{
    static const LV2_Worker_Interface worker = {work, work_response, NULL};
    return strcmp(uri, LV2_WORKER__interface) == 0 ? &worker : NULL;
}

static const LV2_Descriptor descriptor = {
    "http://tonbrix.test/plugins/logworker",
    instantiate, connect_port, NULL, run, NULL, cleanup, extension_data,
};

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index)
{
    return index == 0 ? &descriptor : NULL;
}
