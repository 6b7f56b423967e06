/* presets: five control inputs a..e with presets in presets.ttl;
 * out[f] = control input f (a, b, c, d, e) for f < 5, out[f] = in[f] for f >= 5;
 * control output meter = a. */
#include <stdint.h>
#include <stdlib.h>

#include <lv2/core/lv2.h>

#include "lifecycle_log.h"

enum { N_CONTROLS = 5, P_METER = 5, P_IN = 6, P_OUT = 7 };

typedef struct {
    int k;
    const float* controls[N_CONTROLS];
    float* meter;
    const float* in;
    float* out;
} Presets;

static LV2_Handle instantiate(const LV2_Descriptor* d, double rate, const char* path,
                              const LV2_Feature* const* features)
{
    (void)d, (void)rate, (void)path, (void)features;
    Presets* self = calloc(1, sizeof(Presets));
    if (self == NULL) {
        return NULL;
    }
    self->k = tb_next_instance();
    tb_log("instantiate", self->k);
    return self;
}

static void connect_port(LV2_Handle h, uint32_t port, void* data)
{
    Presets* self = h;
    if (port < N_CONTROLS) {
        self->controls[port] = data;
    } else if (port == P_METER) {
        self->meter = data;
    } else if (port == P_IN) {
        self->in = data;
    } else if (port == P_OUT) {
        self->out = data;
    }
}

static void activate(LV2_Handle h) { tb_log("activate", ((Presets*)h)->k); }

static void run(LV2_Handle h, uint32_t n)
{
    Presets* self = h;
    for (uint32_t f = 0; f < n; ++f) {
        self->out[f] = f < N_CONTROLS ? *self->controls[f] : self->in[f];
    }
    *self->meter = *self->controls[0];
}

static void deactivate(LV2_Handle h) { tb_log("deactivate", ((Presets*)h)->k); }

static void cleanup(LV2_Handle h)
{
    tb_log("cleanup", ((Presets*)h)->k);
    free(h);
}

static const LV2_Descriptor descriptor = {
    "http://tonbrix.test/plugins/presets",
    instantiate, connect_port, activate, run, deactivate, cleanup, NULL,
};

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index)
{
    return index == 0 ? &descriptor : NULL;
}
