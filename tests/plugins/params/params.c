/* params / paramsmsg / paramsnone: writable parameters of every atom type,
 * taken through the state interface (restore) and as patch:Set messages in
 * the "control" atom input. out[f] for f < 10 reports what the plugin holds
 * when the run starts (after the messages of that run), out[f] = in[f]
 * after:
 *   0 float, 1 double, 2 int, 3 long, 4 bool (each -1 until set),
 *   5 length of the string, 6 size in bytes of the file at the path (-1
 *   unset, -2 unreadable or not absolute), 7 length of the URI,
 *   8 restores so far, 9 patch:Set messages so far.
 * The URI comes from TB_PLUGIN_URI; the bundles differ in their data only. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <lv2/atom/atom.h>
#include <lv2/atom/util.h>
#include <lv2/core/lv2.h>
#include <lv2/patch/patch.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>

#include "lifecycle_log.h"

/* strnlen, C11 has none. */
static size_t text_length(const char* text, size_t size)
{
    size_t n = 0;
    while (n < size && text[n] != '\0') {
        ++n;
    }
    return n;
}

#define NS "http://tonbrix.test/plugins/params#"
#define FIELDS 10

enum { P_FLOAT, P_DOUBLE, P_INT, P_LONG, P_BOOL, P_STRING, P_PATH, P_URI, P_COUNT };

static const char* const keys[P_COUNT] = {NS "float", NS "double", NS "int",  NS "long",
                                          NS "bool",  NS "string", NS "path", NS "uri"};

typedef struct {
    int k;
    LV2_URID_Map* map;
    LV2_URID key_urids[P_COUNT];
    LV2_URID atom_object, patch_set, patch_property, patch_value;
    const float* in;
    float* out;
    const LV2_Atom_Sequence* control;
    float fields[FIELDS];
} Params;

static LV2_Handle instantiate(const LV2_Descriptor* d, double rate, const char* path,
                              const LV2_Feature* const* features)
{
    (void)d, (void)rate, (void)path;
    LV2_URID_Map* map = NULL;
    for (int i = 0; features != NULL && features[i] != NULL; ++i) {
        if (strcmp(features[i]->URI, LV2_URID__map) == 0) {
            map = features[i]->data;
        }
    }
    if (map == NULL) {
        return NULL;
    }
    Params* self = calloc(1, sizeof(Params));
    if (self == NULL) {
        return NULL;
    }
    self->map = map;
    for (int p = 0; p < P_COUNT; ++p) {
        self->key_urids[p] = map->map(map->handle, keys[p]);
    }
    self->atom_object = map->map(map->handle, LV2_ATOM__Object);
    self->patch_set = map->map(map->handle, LV2_PATCH__Set);
    self->patch_property = map->map(map->handle, LV2_PATCH__property);
    self->patch_value = map->map(map->handle, LV2_PATCH__value);
    for (int f = 0; f < 7; ++f) {
        self->fields[f] = -1.0f;
    }
    self->fields[7] = -1.0f;
    self->k = tb_next_instance();
    tb_log("instantiate", self->k);
    return self;
}

static float file_size(const char* path)
{
    if (path[0] != '/') {
        return -2.0f;
    }
    FILE* f = fopen(path, "rb");
    if (f == NULL) {
        return -2.0f;
    }
    fseek(f, 0, SEEK_END);
    const long size = ftell(f);
    fclose(f);
    return (float)size;
}

/* Takes one value of its declared type; other types are ignored. */
static void take_value(Params* self, LV2_URID key, uint32_t type, uint32_t size,
                       const void* body)
{
    LV2_URID_Map* m = self->map;
    for (int p = 0; p < P_COUNT; ++p) {
        if (key != self->key_urids[p]) {
            continue;
        }
        if (p == P_FLOAT && type == m->map(m->handle, LV2_ATOM__Float) && size == 4) {
            self->fields[0] = *(const float*)body;
        } else if (p == P_DOUBLE && type == m->map(m->handle, LV2_ATOM__Double) && size == 8) {
            self->fields[1] = (float)*(const double*)body;
        } else if (p == P_INT && type == m->map(m->handle, LV2_ATOM__Int) && size == 4) {
            self->fields[2] = (float)*(const int32_t*)body;
        } else if (p == P_LONG && type == m->map(m->handle, LV2_ATOM__Long) && size == 8) {
            self->fields[3] = (float)*(const int64_t*)body;
        } else if (p == P_BOOL && type == m->map(m->handle, LV2_ATOM__Bool) && size == 4) {
            self->fields[4] = (float)*(const int32_t*)body;
        } else if (p == P_STRING && type == m->map(m->handle, LV2_ATOM__String) && size > 0) {
            self->fields[5] = (float)text_length(body, size);
        } else if (p == P_PATH && type == m->map(m->handle, LV2_ATOM__Path) && size > 0) {
            self->fields[6] = file_size(body);
        } else if (p == P_URI && type == m->map(m->handle, LV2_ATOM__URI) && size > 0) {
            self->fields[7] = (float)text_length(body, size);
        }
    }
}

static void connect_port(LV2_Handle h, uint32_t port, void* data)
{
    Params* self = h;
    switch (port) {
    case 0: self->in = data; break;
    case 1: self->out = data; break;
    case 2: self->control = data; break;
    default: break;
    }
}

static void activate(LV2_Handle h) { tb_log("activate", ((Params*)h)->k); }

static void run(LV2_Handle h, uint32_t n)
{
    Params* self = h;
    if (self->control != NULL) {
        LV2_ATOM_SEQUENCE_FOREACH (self->control, ev) {
            const LV2_Atom_Object* obj = (const LV2_Atom_Object*)&ev->body;
            if (obj->atom.type != self->atom_object ||
                obj->body.otype != self->patch_set) {
                continue;
            }
            const LV2_Atom* property = NULL;
            const LV2_Atom* value = NULL;
            lv2_atom_object_get(obj, self->patch_property, &property, self->patch_value, &value,
                                0);
            if (property != NULL && value != NULL) {
                self->fields[9] += 1.0f;
                take_value(self, ((const LV2_Atom_URID*)property)->body, value->type,
                           value->size, value + 1);
            }
        }
    }
    for (uint32_t i = 0; i < n; ++i) {
        self->out[i] = i < FIELDS ? self->fields[i] : self->in[i];
    }
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
    (void)flags;
    Params* self = h;
    const LV2_State_Map_Path* map_path = NULL;
    const LV2_State_Free_Path* free_path = NULL;
    for (int i = 0; features != NULL && features[i] != NULL; ++i) {
        if (strcmp(features[i]->URI, LV2_STATE__mapPath) == 0 && map_path == NULL) {
            map_path = features[i]->data;
        } else if (strcmp(features[i]->URI, LV2_STATE__freePath) == 0 && free_path == NULL) {
            free_path = features[i]->data;
        }
    }
    self->fields[8] += 1.0f;
    for (int p = 0; p < P_COUNT; ++p) {
        size_t size = 0;
        uint32_t type = 0;
        uint32_t value_flags = 0;
        const void* body = retrieve(handle, self->key_urids[p], &size, &type, &value_flags);
        if (body == NULL) {
            continue;
        }
        if (p == P_PATH && map_path != NULL) {
            char* absolute = map_path->absolute_path(map_path->handle, body);
            if (absolute != NULL) {
                take_value(self, self->key_urids[p], type, (uint32_t)strlen(absolute) + 1,
                           absolute);
                if (free_path != NULL) {
                    free_path->free_path(free_path->handle, absolute);
                } else {
                    free(absolute);
                }
            }
            continue;
        }
        take_value(self, self->key_urids[p], type, (uint32_t)size, body);
    }
    return LV2_STATE_SUCCESS;
}

static const void* extension_data(const char* uri)
{
    static const LV2_State_Interface state = {save, restore};
    return strcmp(uri, LV2_STATE__interface) == 0 ? &state : NULL;
}

static void deactivate(LV2_Handle h) { tb_log("deactivate", ((Params*)h)->k); }

static void cleanup(LV2_Handle h)
{
    tb_log("cleanup", ((Params*)h)->k);
    free(h);
}

static const LV2_Descriptor descriptor = {
    TB_PLUGIN_URI, instantiate, connect_port, activate, run, deactivate, cleanup, extension_data,
};

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index)
{
    return index == 0 ? &descriptor : NULL;
}
