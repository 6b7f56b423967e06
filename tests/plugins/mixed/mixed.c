/* mixed: ports in mixed order; out = in * gain + side + bias, level = last out. */
#include <stdint.h>
#include <stdlib.h>

#include <lv2/core/lv2.h>

#include "lifecycle_log.h"

enum { P_OUT = 0, P_GAIN = 1, P_IN = 2, P_LEVEL = 3, P_BIAS = 4, P_SIDE = 5 };

typedef struct {
    int k;
    float* out;
    const float* gain;
    const float* in;
    float* level;
    const float* bias;
    const float* side;
} Mixed;

static LV2_Handle instantiate(const LV2_Descriptor* d, double rate, const char* path,
                              const LV2_Feature* const* features)
{
    (void)d, (void)rate, (void)path, (void)features;
    Mixed* self = calloc(1, sizeof(Mixed));
    if (self == NULL) {
        return NULL;
    }
    self->k = tb_next_instance();
    tb_log("instantiate", self->k);
    return self;
}

static void connect_port(LV2_Handle h, uint32_t port, void* data)
{
    Mixed* self = h;
    switch (port) {
    case P_OUT: self->out = data; break;
    case P_GAIN: self->gain = data; break;
    case P_IN: self->in = data; break;
    case P_LEVEL: self->level = data; break;
    case P_BIAS: self->bias = data; break;
    case P_SIDE: self->side = data; break;
    default: break;
    }
}

static void activate(LV2_Handle h) { tb_log("activate", ((Mixed*)h)->k); }

static void run(LV2_Handle h, uint32_t n)
{
    Mixed* self = h;
    const float gain = *self->gain;
    const float bias = *self->bias;
    for (uint32_t i = 0; i < n; ++i) {
        self->out[i] = self->in[i] * gain + self->side[i] + bias;
    }
    if (n > 0) {
        *self->level = self->out[n - 1];
    }
}

static void deactivate(LV2_Handle h) { tb_log("deactivate", ((Mixed*)h)->k); }

static void cleanup(LV2_Handle h)
{
    tb_log("cleanup", ((Mixed*)h)->k);
    free(h);
}

static const LV2_Descriptor descriptor = {
    "http://tonbrix.test/plugins/mixed",
    instantiate, connect_port, activate, run, deactivate, cleanup, NULL,
};

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index)
{
    return index == 0 ? &descriptor : NULL;
}
