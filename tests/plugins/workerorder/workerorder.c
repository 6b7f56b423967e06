/* workerorder: checks that the host runs the worker as a careful host does.
 *
 * Every run schedules one job; work() answers it at once. The plugin counts
 * a fault, and logs it as an error through log:log, when
 *   - a response arrives while run() is running,
 *   - a run starts before end_run() followed the previous run,
 *   - a run starts before the responses of the previous runs all arrived,
 *   - the instance is deactivated with end_run() still owed.
 * run(n): out[f] = in[f] while there is no fault, silence after one;
 * the control output `faults` holds the number of faults so far.
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
    float* faults_port;
    LV2_Worker_Schedule* schedule;
    LV2_Log_Log* log;
    LV2_URID log_error;
    int in_run;
    int owes_end_run;
    uint32_t runs;
    uint32_t responses;
    uint32_t faults;
} WorkerOrder;

static void fault(WorkerOrder* self, const char* what)
{
    ++self->faults;
    if (self->log != NULL) {
        self->log->printf(self->log->handle, self->log_error, "workerorder: %s\n", what);
    }
}

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
    WorkerOrder* self = calloc(1, sizeof(WorkerOrder));
    if (self == NULL) {
        return NULL;
    }
    self->schedule = schedule;
    self->log = log;
    self->log_error = map->map(map->handle, LV2_LOG__Error);
    self->k = tb_next_instance();
    tb_log("instantiate", self->k);
    return self;
}

static void connect_port(LV2_Handle h, uint32_t port, void* data)
{
    WorkerOrder* self = h;
    switch (port) {
    case 0: self->in = data; break;
    case 1: self->out = data; break;
    case 2: self->faults_port = data; break;
    default: break;
    }
}

static void activate(LV2_Handle h) { tb_log("activate", ((WorkerOrder*)h)->k); }

static void run(LV2_Handle h, uint32_t n)
{
    WorkerOrder* self = h;
    if (self->owes_end_run) {
        fault(self, "run without end_run after the previous run");
    }
    if (self->responses != self->runs) {
        fault(self, "run before the responses of the previous runs");
    }
    self->in_run = 1;
    const uint32_t job = self->runs++;
    self->schedule->schedule_work(self->schedule->handle, sizeof job, &job);
    for (uint32_t f = 0; f < n; ++f) {
        self->out[f] = self->faults == 0 ? self->in[f] : 0.0f;
    }
    if (self->faults_port != NULL) {
        *self->faults_port = (float)self->faults;
    }
    self->in_run = 0;
    self->owes_end_run = 1;
}

static void deactivate(LV2_Handle h)
{
    WorkerOrder* self = h;
    if (self->owes_end_run) {
        fault(self, "no end_run after the last run");
    }
    tb_log("deactivate", self->k);
}

static void cleanup(LV2_Handle h)
{
    tb_log("cleanup", ((WorkerOrder*)h)->k);
    free(h);
}

static LV2_Worker_Status work(LV2_Handle h, LV2_Worker_Respond_Function respond,
                              LV2_Worker_Respond_Handle handle, uint32_t size, const void* data)
{
    (void)h;
    return respond(handle, size, data);
}

static LV2_Worker_Status work_response(LV2_Handle h, uint32_t size, const void* body)
{
    (void)size, (void)body;
    WorkerOrder* self = h;
    if (self->in_run) {
        fault(self, "response during run");
    }
    ++self->responses;
    return LV2_WORKER_SUCCESS;
}

static LV2_Worker_Status end_run(LV2_Handle h)
{
    WorkerOrder* self = h;
    if (self->in_run) {
        fault(self, "end_run during run");
    }
    self->owes_end_run = 0;
    return LV2_WORKER_SUCCESS;
}

static const void* extension_data(const char* uri)
{
    static const LV2_Worker_Interface worker = {work, work_response, end_run};
    return strcmp(uri, LV2_WORKER__interface) == 0 ? &worker : NULL;
}

static const LV2_Descriptor descriptor = {
    TB_PLUGIN_URI, instantiate, connect_port, activate, run, deactivate, cleanup, extension_data,
};

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index)
{
    return index == 0 ? &descriptor : NULL;
}
