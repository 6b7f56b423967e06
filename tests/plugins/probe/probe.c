/* probe: reports what the host passed to it.
 *
 * run(n): out[f] = info[f] for f < 10, out[f] = in[f] for f >= 10, where
 *   info[0] sample rate
 *   info[1] buf-size:minBlockLength option (-1 if missing or not a valid atom:Int instance option)
 *   info[2] buf-size:maxBlockLength option (likewise)
 *   info[3] buf-size:nominalBlockLength option (likewise)
 *   info[4] buf-size:sequenceSize option (likewise)
 *   info[5] 1 if the "events" input header holds size 8 and type atom:Sequence, else 0
 *   info[6] 1 if the "notify" output header holds size 32768 and type atom:Chunk, else 0
 *   info[7] value of the "freewheel" control input
 *   info[8] number of features passed to instantiate
 *   info[9] 1 if urid:unmap is present and unmap(map(TB_X_URI)) == TB_X_URI, else 0
 * At the end of run it writes an empty sequence into "notify" and sets the
 * size of the "events" header to 999, so a host that does not reset the
 * headers before each run shows 0 in info[5] / info[6] of the next run.
 */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/core/lv2.h>
#include <lv2/options/options.h>
#include <lv2/urid/urid.h>

#include "lifecycle_log.h"

#define TB_X_URI "http://tonbrix.test/x"

enum { P_IN = 0, P_OUT = 1, P_EVENTS = 2, P_NOTIFY = 3, P_FREEWHEEL = 4 };
enum { N_INFO = 10 };

typedef struct {
    int k;
    const float* in;
    float* out;
    LV2_Atom_Sequence* events;
    LV2_Atom_Sequence* notify;
    const float* freewheel;
    LV2_URID atom_Sequence;
    LV2_URID atom_Chunk;
    float info[N_INFO];
} Probe;

/* Value of the instance option `key`, or -1 if it is missing or not a 4-byte atom:Int. */
static float option_value(const LV2_Options_Option* options, LV2_URID key, LV2_URID atom_Int)
{
    float value = -1.0f;
    if (options == NULL) {
        return value;
    }
    for (const LV2_Options_Option* o = options; o->key != 0 || o->value != NULL; ++o) {
        if (o->key != key) {
            continue;
        }
        if (o->context == LV2_OPTIONS_INSTANCE && o->subject == 0 && o->size == sizeof(int32_t)
            && o->type == atom_Int && o->value != NULL) {
            value = (float)*(const int32_t*)o->value;
        } else {
            value = -1.0f;
        }
    }
    return value;
}

static LV2_Handle instantiate(const LV2_Descriptor* d, double rate, const char* path,
                              const LV2_Feature* const* features)
{
    (void)d, (void)path;
    LV2_URID_Map* map = NULL;
    LV2_URID_Unmap* unmap = NULL;
    const LV2_Options_Option* options = NULL;
    int n_features = 0;
    for (int i = 0; features != NULL && features[i] != NULL; ++i) {
        ++n_features;
        if (strcmp(features[i]->URI, LV2_URID__map) == 0) {
            map = features[i]->data;
        } else if (strcmp(features[i]->URI, LV2_URID__unmap) == 0) {
            unmap = features[i]->data;
        } else if (strcmp(features[i]->URI, LV2_OPTIONS__options) == 0) {
            options = features[i]->data;
        }
    }
    if (map == NULL) {
        return NULL;
    }

    Probe* self = calloc(1, sizeof(Probe));
    if (self == NULL) {
        return NULL;
    }
    self->atom_Sequence = map->map(map->handle, LV2_ATOM__Sequence);
    self->atom_Chunk = map->map(map->handle, LV2_ATOM__Chunk);
    const LV2_URID atom_Int = map->map(map->handle, LV2_ATOM__Int);

    self->info[0] = (float)rate;
    self->info[1] = option_value(options, map->map(map->handle, LV2_BUF_SIZE__minBlockLength), atom_Int);
    self->info[2] = option_value(options, map->map(map->handle, LV2_BUF_SIZE__maxBlockLength), atom_Int);
    self->info[3] =
        option_value(options, map->map(map->handle, LV2_BUF_SIZE__nominalBlockLength), atom_Int);
    self->info[4] = option_value(options, map->map(map->handle, LV2_BUF_SIZE__sequenceSize), atom_Int);
    self->info[8] = (float)n_features;
    if (unmap != NULL) {
        const char* back = unmap->unmap(unmap->handle, map->map(map->handle, TB_X_URI));
        self->info[9] = (back != NULL && strcmp(back, TB_X_URI) == 0) ? 1.0f : 0.0f;
    }

    self->k = tb_next_instance();
    tb_log("instantiate", self->k);
    return self;
}

static void connect_port(LV2_Handle h, uint32_t port, void* data)
{
    Probe* self = h;
    switch (port) {
    case P_IN: self->in = data; break;
    case P_OUT: self->out = data; break;
    case P_EVENTS: self->events = data; break;
    case P_NOTIFY: self->notify = data; break;
    case P_FREEWHEEL: self->freewheel = data; break;
    default: break;
    }
}

static void activate(LV2_Handle h) { tb_log("activate", ((Probe*)h)->k); }

static void run(LV2_Handle h, uint32_t n)
{
    Probe* self = h;
    float* info = self->info;

    info[5] = (self->events != NULL && self->events->atom.size == sizeof(LV2_Atom_Sequence_Body)
               && self->events->atom.type == self->atom_Sequence)
                  ? 1.0f
                  : 0.0f;
    const uint32_t notify_capacity = self->notify != NULL ? self->notify->atom.size : 0;
    info[6] = (self->notify != NULL && notify_capacity == 32768
               && self->notify->atom.type == self->atom_Chunk)
                  ? 1.0f
                  : 0.0f;
    info[7] = self->freewheel != NULL ? *self->freewheel : -1.0f;

    for (uint32_t f = 0; f < n; ++f) {
        self->out[f] = f < N_INFO ? info[f] : self->in[f];
    }

    /* An empty output sequence, written only if the header announced room for it. */
    if (self->notify != NULL && notify_capacity >= sizeof(LV2_Atom_Sequence_Body)) {
        self->notify->atom.size = sizeof(LV2_Atom_Sequence_Body);
        self->notify->atom.type = self->atom_Sequence;
        self->notify->body.unit = 0;
        self->notify->body.pad = 0;
    }
    /* Spoil the input header: the host has to set it again before the next run. */
    if (self->events != NULL) {
        self->events->atom.size = 999;
    }
}

static void deactivate(LV2_Handle h) { tb_log("deactivate", ((Probe*)h)->k); }

static void cleanup(LV2_Handle h)
{
    tb_log("cleanup", ((Probe*)h)->k);
    free(h);
}

static const LV2_Descriptor descriptor = {
    "http://tonbrix.test/plugins/probe",
    instantiate, connect_port, activate, run, deactivate, cleanup, NULL,
};

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index)
{
    return index == 0 ? &descriptor : NULL;
}
