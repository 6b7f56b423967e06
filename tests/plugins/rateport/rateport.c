/* rateport: out = in; each control output reports the value of the control
 * input of the same name (cutoff and width have lv2:sampleRate). */
#include <stdint.h>
#include <stdlib.h>

#include <lv2/core/lv2.h>

#include "lifecycle_log.h"

typedef struct {
    int k;
    const float* in;
    float* out;
    const float* inputs[3];
    float* seen[3];
} RatePort;

static LV2_Handle instantiate(const LV2_Descriptor* d, double rate, const char* path,
                              const LV2_Feature* const* features)
{
    (void)d, (void)rate, (void)path, (void)features;
    RatePort* self = calloc(1, sizeof(RatePort));
    if (self == NULL) {
        return NULL;
    }
    self->k = tb_next_instance();
    tb_log("instantiate", self->k);
    return self;
}

static void connect_port(LV2_Handle h, uint32_t port, void* data)
{
    RatePort* self = h;
    if (port == 0) {
        self->in = data;
    } else if (port == 1) {
        self->out = data;
    } else if (port >= 2 && port < 5) {
        self->inputs[port - 2] = data;
    } else if (port >= 5 && port < 8) {
        self->seen[port - 5] = data;
    }
}

static void activate(LV2_Handle h) { tb_log("activate", ((RatePort*)h)->k); }

static void run(LV2_Handle h, uint32_t n)
{
    RatePort* self = h;
    for (uint32_t i = 0; i < n; ++i) {
        self->out[i] = self->in[i];
    }
    for (int c = 0; c < 3; ++c) {
        *self->seen[c] = *self->inputs[c];
    }
}

static void deactivate(LV2_Handle h) { tb_log("deactivate", ((RatePort*)h)->k); }

static void cleanup(LV2_Handle h)
{
    tb_log("cleanup", ((RatePort*)h)->k);
    free(h);
}

static const LV2_Descriptor descriptor = {
    TB_PLUGIN_URI, instantiate, connect_port, activate, run, deactivate, cleanup, NULL,
};

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index)
{
    return index == 0 ? &descriptor : NULL;
}
