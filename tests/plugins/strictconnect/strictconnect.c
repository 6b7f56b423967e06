/* strictconnect: aborts when it is activated, or run, with any port
 * unconnected, after writing which port to standard error. Like a filter
 * that computes its coefficients in activate, it reads gain and cv[0] there:
 * out = in * gain + cv[0] with those values; level = gain; cvout = cv; the
 * atom output gets an empty sequence. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/urid/urid.h>

#include "lifecycle_log.h"

#define PORT_COUNT 8

enum { IN, OUT, GAIN, LEVEL, CV, CVOUT, EVENTS, NOTIFY };

typedef struct {
    int k;
    LV2_URID sequence_type;
    float gain; /* read in activate */
    float cv;   /* read in activate */
    void* ports[PORT_COUNT];
} Strict;

static LV2_Handle instantiate(const LV2_Descriptor* d, double rate, const char* path,
                              const LV2_Feature* const* features)
{
    (void)d, (void)rate, (void)path;
    const LV2_URID_Map* map = NULL;
    for (int i = 0; features != NULL && features[i] != NULL; ++i) {
        if (strcmp(features[i]->URI, LV2_URID__map) == 0) {
            map = features[i]->data;
        }
    }
    if (map == NULL) {
        return NULL;
    }
    Strict* self = calloc(1, sizeof(Strict));
    if (self == NULL) {
        return NULL;
    }
    self->sequence_type = map->map(map->handle, LV2_ATOM__Sequence);
    self->k = tb_next_instance();
    tb_log("instantiate", self->k);
    return self;
}

static void connect_port(LV2_Handle h, uint32_t port, void* data)
{
    Strict* self = h;
    if (port < PORT_COUNT) {
        self->ports[port] = data;
    }
}

static void require_all_connected(const Strict* self, const char* when)
{
    for (uint32_t p = 0; p < PORT_COUNT; ++p) {
        if (self->ports[p] == NULL) {
            fprintf(stderr, "strictconnect: port %u unconnected at %s\n", p, when);
            abort();
        }
    }
}

static void activate(LV2_Handle h)
{
    Strict* self = h;
    require_all_connected(self, "activate");
    self->gain = *(const float*)self->ports[GAIN];
    self->cv = ((const float*)self->ports[CV])[0];
    tb_log("activate", self->k);
}

static void run(LV2_Handle h, uint32_t n)
{
    Strict* self = h;
    require_all_connected(self, "run");
    const float* in = self->ports[IN];
    float* out = self->ports[OUT];
    const float* cv = self->ports[CV];
    float* cvout = self->ports[CVOUT];
    for (uint32_t i = 0; i < n; ++i) {
        out[i] = in[i] * self->gain + self->cv;
        cvout[i] = cv[i];
    }
    *(float*)self->ports[LEVEL] = self->gain;
    LV2_Atom_Sequence* notify = self->ports[NOTIFY];
    if (notify->atom.size >= sizeof(LV2_Atom_Sequence_Body)) {
        notify->atom.size = sizeof(LV2_Atom_Sequence_Body);
        notify->atom.type = self->sequence_type;
        notify->body.unit = 0;
        notify->body.pad = 0;
    }
}

static void deactivate(LV2_Handle h) { tb_log("deactivate", ((Strict*)h)->k); }

static void cleanup(LV2_Handle h)
{
    tb_log("cleanup", ((Strict*)h)->k);
    free(h);
}

static const LV2_Descriptor descriptor = {
    TB_PLUGIN_URI, instantiate, connect_port, activate, run, deactivate, cleanup, NULL,
};

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index)
{
    return index == 0 ? &descriptor : NULL;
}
