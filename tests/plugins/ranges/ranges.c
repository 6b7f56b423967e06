/* ranges: eight control inputs with odd or missing ranges and no defaults;
 * out[f] = value of control input f for f < 8, out[f] = 0 for f >= 8. */
#include <stdint.h>
#include <stdlib.h>

#include <lv2/core/lv2.h>

#include "lifecycle_log.h"

enum { N_CONTROLS = 8, P_OUT = 8 };

typedef struct {
    int k;
    const float* controls[N_CONTROLS];
    float* out;
} Ranges;

static LV2_Handle instantiate(const LV2_Descriptor* d, double rate, const char* path,
                              const LV2_Feature* const* features)
{
    (void)d, (void)rate, (void)path, (void)features;
    Ranges* self = calloc(1, sizeof(Ranges));
    if (self == NULL) {
        return NULL;
    }
    self->k = tb_next_instance();
    tb_log("instantiate", self->k);
    return self;
}

static void connect_port(LV2_Handle h, uint32_t port, void* data)
{
    Ranges* self = h;
    if (port < N_CONTROLS) {
        self->controls[port] = data;
    } else if (port == P_OUT) {
        self->out = data;
    }
}

static void activate(LV2_Handle h) { tb_log("activate", ((Ranges*)h)->k); }

static void run(LV2_Handle h, uint32_t n)
{
    Ranges* self = h;
    for (uint32_t f = 0; f < n; ++f) {
        self->out[f] = f < N_CONTROLS ? *self->controls[f] : 0.0f;
    }
}

static void deactivate(LV2_Handle h) { tb_log("deactivate", ((Ranges*)h)->k); }

static void cleanup(LV2_Handle h)
{
    tb_log("cleanup", ((Ranges*)h)->k);
    free(h);
}

static const LV2_Descriptor descriptor = {
    "http://tonbrix.test/plugins/ranges",
    instantiate, connect_port, activate, run, deactivate, cleanup, NULL,
};

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index)
{
    return index == 0 ? &descriptor : NULL;
}
