/* loader / loaderstate: takes `level` and `offset` as a convolver takes its
 * file: a value that arrives (restore or patch:Set) is loaded through the
 * worker and in use only two runs after the load. out = in * level +
 * offset (level 1, offset 0 until loaded); the `status` output is 1 while
 * a value is on its way, else 0. The restore asks for `level` under the
 * module's own key (NS_OWN "level"), not the one the data declares, and
 * never for `offset`; patch:Set takes NS_OWN "level" and NS "offset". A
 * negative value makes the work log an error and drops the value; 999 is
 * a load that never ends (the work asks to be scheduled again, forever). */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <lv2/atom/atom.h>
#include <lv2/atom/util.h>
#include <lv2/core/lv2.h>
#include <lv2/log/log.h>
#include <lv2/patch/patch.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

#include "lifecycle_log.h"

#define NS "http://tonbrix.test/plugins/loader#"
#define NS_OWN "http://tonbrix.test/plugins/loader/own#"

enum { LEVEL, OFFSET, VALUES };

typedef struct {
    int which;
    float value;
} Job;

typedef struct {
    int k;
    LV2_URID_Map* map;
    LV2_Worker_Schedule* schedule;
    LV2_Log_Log* log;
    LV2_URID own_level, offset_key, float_type, atom_object, patch_set, patch_property,
        patch_value, log_error;
    const float* in;
    float* out;
    float* status;
    const LV2_Atom_Sequence* control;
    float values[VALUES];
    int pending[VALUES];   /* arrived, not yet sent to the worker */
    float arrived[VALUES];
    int countdown[VALUES]; /* runs until a loaded value is in use; 0: none */
    float loaded[VALUES];
    int again[VALUES];     /* the never-ending load */
} Loader;

static const void* feature(const LV2_Feature* const* features, const char* uri)
{
    for (int i = 0; features != NULL && features[i] != NULL; ++i) {
        if (strcmp(features[i]->URI, uri) == 0) {
            return features[i]->data;
        }
    }
    return NULL;
}

static LV2_Handle instantiate(const LV2_Descriptor* d, double rate, const char* path,
                              const LV2_Feature* const* features)
{
    (void)d, (void)rate, (void)path;
    LV2_URID_Map* map = (LV2_URID_Map*)feature(features, LV2_URID__map);
    LV2_Worker_Schedule* schedule = (LV2_Worker_Schedule*)feature(features, LV2_WORKER__schedule);
    if (map == NULL || schedule == NULL) {
        return NULL;
    }
    Loader* self = calloc(1, sizeof(Loader));
    if (self == NULL) {
        return NULL;
    }
    self->map = map;
    self->schedule = schedule;
    self->log = (LV2_Log_Log*)feature(features, LV2_LOG__log);
    self->own_level = map->map(map->handle, NS_OWN "level");
    self->offset_key = map->map(map->handle, NS "offset");
    self->float_type = map->map(map->handle, LV2_ATOM__Float);
    self->atom_object = map->map(map->handle, LV2_ATOM__Object);
    self->patch_set = map->map(map->handle, LV2_PATCH__Set);
    self->patch_property = map->map(map->handle, LV2_PATCH__property);
    self->patch_value = map->map(map->handle, LV2_PATCH__value);
    self->log_error = map->map(map->handle, LV2_LOG__Error);
    self->values[LEVEL] = 1.0f;
    self->k = tb_next_instance();
    tb_log("instantiate", self->k);
    return self;
}

static void connect_port(LV2_Handle h, uint32_t port, void* data)
{
    Loader* self = h;
    switch (port) {
    case 0: self->in = data; break;
    case 1: self->out = data; break;
    case 2: self->status = data; break;
    case 3: self->control = data; break;
    default: break;
    }
}

static void activate(LV2_Handle h) { tb_log("activate", ((Loader*)h)->k); }

static void arrive(Loader* self, int which, uint32_t type, uint32_t size, const void* body)
{
    if (type == self->float_type && size == sizeof(float)) {
        self->arrived[which] = *(const float*)body;
        self->pending[which] = 1;
    }
}

static void run(LV2_Handle h, uint32_t n)
{
    Loader* self = h;
    if (self->control != NULL) {
        LV2_ATOM_SEQUENCE_FOREACH (self->control, ev) {
            const LV2_Atom_Object* obj = (const LV2_Atom_Object*)&ev->body;
            if (obj->atom.type != self->atom_object || obj->body.otype != self->patch_set) {
                continue;
            }
            const LV2_Atom* property = NULL;
            const LV2_Atom* value = NULL;
            lv2_atom_object_get(obj, self->patch_property, &property, self->patch_value, &value,
                                0);
            if (property == NULL || value == NULL) {
                continue;
            }
            const LV2_URID key = ((const LV2_Atom_URID*)property)->body;
            if (key == self->own_level) {
                arrive(self, LEVEL, value->type, value->size, value + 1);
            } else if (key == self->offset_key) {
                arrive(self, OFFSET, value->type, value->size, value + 1);
            }
        }
    }
    int busy = 0;
    for (int v = 0; v < VALUES; ++v) {
        if (self->countdown[v] > 0 && --self->countdown[v] == 0) {
            self->values[v] = self->loaded[v];
        }
        if (self->pending[v] || self->again[v]) {
            self->pending[v] = 0;
            const Job job = {v, self->arrived[v]};
            self->schedule->schedule_work(self->schedule->handle, sizeof job, &job);
        }
        busy = busy || self->pending[v] || self->again[v] || self->countdown[v] > 0;
    }
    *self->status = busy ? 1.0f : 0.0f;
    for (uint32_t i = 0; i < n; ++i) {
        self->out[i] = self->in[i] * self->values[LEVEL] + self->values[OFFSET];
    }
}

static LV2_Worker_Status work(LV2_Handle h, LV2_Worker_Respond_Function respond,
                              LV2_Worker_Respond_Handle handle, uint32_t size, const void* data)
{
    Loader* self = h;
    if (size != sizeof(Job)) {
        return LV2_WORKER_ERR_UNKNOWN;
    }
    const Job* job = data;
    if (job->value < 0.0f) {
        if (self->log != NULL) {
            self->log->printf(self->log->handle, self->log_error, "loader: negative value %g\n",
                              job->value);
        }
        return LV2_WORKER_SUCCESS;
    }
    return respond(handle, size, data);
}

static LV2_Worker_Status work_response(LV2_Handle h, uint32_t size, const void* data)
{
    Loader* self = h;
    const Job* job = data;
    (void)size;
    if (job->value == 999.0f) {
        self->again[job->which] = 1;
        return LV2_WORKER_SUCCESS;
    }
    self->loaded[job->which] = job->value;
    self->countdown[job->which] = 2;
    return LV2_WORKER_SUCCESS;
}

static LV2_State_Status save(LV2_Handle h, LV2_State_Store_Function store,
                             LV2_State_Handle handle, uint32_t flags,
                             const LV2_Feature* const* features)
{
    (void)h, (void)store, (void)handle, (void)flags, (void)features;
    return LV2_STATE_SUCCESS;
}

static LV2_State_Status restore(LV2_Handle h, LV2_State_Retrieve_Function retrieve,
                                LV2_State_Handle handle, uint32_t flags,
                                const LV2_Feature* const* features)
{
    (void)flags, (void)features;
    Loader* self = h;
    size_t size = 0;
    uint32_t type = 0;
    uint32_t value_flags = 0;
    const void* body = retrieve(handle, self->own_level, &size, &type, &value_flags);
    if (body != NULL) {
        arrive(self, LEVEL, type, (uint32_t)size, body);
    }
    return LV2_STATE_SUCCESS;
}

static const void* extension_data(const char* uri)
{
    static const LV2_State_Interface state = {save, restore};
    static const LV2_Worker_Interface worker = {work, work_response, NULL};
    if (strcmp(uri, LV2_STATE__interface) == 0) {
        return &state;
    }
    return strcmp(uri, LV2_WORKER__interface) == 0 ? &worker : NULL;
}

static void deactivate(LV2_Handle h) { tb_log("deactivate", ((Loader*)h)->k); }

static void cleanup(LV2_Handle h)
{
    tb_log("cleanup", ((Loader*)h)->k);
    free(h);
}

static const LV2_Descriptor descriptor = {
    TB_PLUGIN_URI, instantiate, connect_port, activate, run, deactivate, cleanup, extension_data,
};

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index)
{
    return index == 0 ? &descriptor : NULL;
}
