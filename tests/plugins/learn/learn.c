/* learn: a plugin that learns while it runs and keeps files in its state, as
 * a noise reducer keeps its learned profile and a convolver its impulse
 * response. out[f] = in[f] * gain * scale; the `peak` output reports the
 * largest |in| seen by the instance so far (or restored from its state).
 * State (through the state interface):
 *   learn#scale    atom:Path, a writable parameter: a text file holding the
 *                  number `scale` (1 until one is read);
 *   learn#profile  atom:Path: a file the save makes with state:makePath,
 *                  holding the peak; the restore reads the peak back from it.
 * With the control input `fail` at 1 the save logs the error
 * "learn: cannot save while fail is set" and fails. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/log/log.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>

#include "lifecycle_log.h"

#define NS "http://tonbrix.test/plugins/learn#"

typedef struct {
    int k;
    LV2_Log_Log* log;
    LV2_URID atom_path, key_scale, key_profile, log_error;
    const float* in;
    float* out;
    const float* gain;
    const float* fail;
    float* peak_port;
    float scale;
    float peak;
    char scale_path[4096];
} Learn;

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
    if (map == NULL) {
        return NULL;
    }
    Learn* self = calloc(1, sizeof(Learn));
    self->log = (LV2_Log_Log*)feature(features, LV2_LOG__log);
    self->atom_path = map->map(map->handle, LV2_ATOM__Path);
    self->key_scale = map->map(map->handle, NS "scale");
    self->key_profile = map->map(map->handle, NS "profile");
    self->log_error = map->map(map->handle, LV2_LOG__Error);
    self->scale = 1.0f;
    self->k = tb_next_instance();
    tb_log("instantiate", self->k);
    return self;
}

static void connect_port(LV2_Handle h, uint32_t port, void* data)
{
    Learn* self = h;
    switch (port) {
    case 0: self->in = data; break;
    case 1: self->out = data; break;
    case 2: self->gain = data; break;
    case 3: self->fail = data; break;
    case 4: self->peak_port = data; break;
    }
}

static void activate(LV2_Handle h) { tb_log("activate", ((Learn*)h)->k); }

static void run(LV2_Handle h, uint32_t n)
{
    Learn* self = h;
    for (uint32_t f = 0; f < n; ++f) {
        self->out[f] = self->in[f] * *self->gain * self->scale;
        const float size = self->in[f] < 0.0f ? -self->in[f] : self->in[f];
        if (size > self->peak) {
            self->peak = size;
        }
    }
    if (self->peak_port != NULL) {
        *self->peak_port = self->peak;
    }
}

/* The number in the text file at `path`; false when it cannot be read. */
static int read_number(const char* path, float* value)
{
    FILE* file = fopen(path, "r");
    if (file == NULL) {
        return 0;
    }
    const int read = fscanf(file, "%f", value) == 1;
    fclose(file);
    return read;
}

static void free_path(const LV2_State_Free_Path* free_path, char* path)
{
    if (free_path != NULL) {
        free_path->free_path(free_path->handle, path);
    } else {
        free(path);
    }
}

static LV2_State_Status save(LV2_Handle h, LV2_State_Store_Function store,
                             LV2_State_Handle handle, uint32_t flags,
                             const LV2_Feature* const* features)
{
    (void)flags;
    Learn* self = h;
    if (self->fail != NULL && *self->fail >= 0.5f) {
        if (self->log != NULL) {
            self->log->printf(self->log->handle, self->log_error,
                              "learn: cannot save while fail is set\n");
        }
        return LV2_STATE_ERR_UNKNOWN;
    }
    const LV2_State_Map_Path* map_path = feature(features, LV2_STATE__mapPath);
    const LV2_State_Make_Path* make_path = feature(features, LV2_STATE__makePath);
    const LV2_State_Free_Path* free_feature = feature(features, LV2_STATE__freePath);
    if (map_path == NULL) {
        return LV2_STATE_ERR_NO_FEATURE;
    }
    const uint32_t pod = LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE;
    if (self->scale_path[0] != '\0') {
        char* abstract = map_path->abstract_path(map_path->handle, self->scale_path);
        store(handle, self->key_scale, abstract, strlen(abstract) + 1, self->atom_path, pod);
        free_path(free_feature, abstract);
    }
    if (make_path != NULL) {
        char* made = make_path->path(make_path->handle, "profile.txt");
        FILE* file = made != NULL ? fopen(made, "w") : NULL;
        if (file == NULL) {
            return LV2_STATE_ERR_UNKNOWN;
        }
        fprintf(file, "%.9g\n", self->peak);
        fclose(file);
        char* abstract = map_path->abstract_path(map_path->handle, made);
        store(handle, self->key_profile, abstract, strlen(abstract) + 1, self->atom_path, pod);
        free_path(free_feature, abstract);
        free_path(free_feature, made);
    }
    return LV2_STATE_SUCCESS;
}

static LV2_State_Status restore(LV2_Handle h, LV2_State_Retrieve_Function retrieve,
                                LV2_State_Handle handle, uint32_t flags,
                                const LV2_Feature* const* features)
{
    (void)flags;
    Learn* self = h;
    const LV2_State_Map_Path* map_path = feature(features, LV2_STATE__mapPath);
    const LV2_State_Free_Path* free_feature = feature(features, LV2_STATE__freePath);
    if (map_path == NULL) {
        return LV2_STATE_ERR_NO_FEATURE;
    }
    const LV2_URID keys[2] = {self->key_scale, self->key_profile};
    for (int i = 0; i < 2; ++i) {
        size_t size = 0;
        uint32_t type = 0;
        uint32_t value_flags = 0;
        const char* body = retrieve(handle, keys[i], &size, &type, &value_flags);
        if (body == NULL || type != self->atom_path) {
            continue;
        }
        char* absolute = map_path->absolute_path(map_path->handle, body);
        float value = 0.0f;
        if (absolute == NULL || !read_number(absolute, &value)) {
            if (self->log != NULL) {
                self->log->printf(self->log->handle, self->log_error, "learn: cannot read %s\n",
                                  absolute != NULL ? absolute : body);
            }
        } else if (i == 0) {
            self->scale = value;
            snprintf(self->scale_path, sizeof self->scale_path, "%s", absolute);
        } else {
            self->peak = value;
        }
        if (absolute != NULL) {
            free_path(free_feature, absolute);
        }
    }
    return LV2_STATE_SUCCESS;
}

static const void* extension_data(const char* uri)
{
    static const LV2_State_Interface state = {save, restore};
    return strcmp(uri, LV2_STATE__interface) == 0 ? &state : NULL;
}

static void deactivate(LV2_Handle h) { tb_log("deactivate", ((Learn*)h)->k); }

static void cleanup(LV2_Handle h)
{
    tb_log("cleanup", ((Learn*)h)->k);
    free(h);
}

static const LV2_Descriptor descriptor = {
    TB_PLUGIN_URI, instantiate, connect_port, activate, run, deactivate, cleanup, extension_data,
};

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index)
{
    return index == 0 ? &descriptor : NULL;
}
