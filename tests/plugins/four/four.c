/* four: out = a + 10*b + 100*c + 1000*d, so the input routing is visible. */
#include <stdint.h>
#include <stdlib.h>

#include <lv2/core/lv2.h>

#include "lifecycle_log.h"

typedef struct {
    int k;
    const float* in[4];
    float* out;
} Four;

static LV2_Handle instantiate(const LV2_Descriptor* d, double rate, const char* path,
                              const LV2_Feature* const* features)
{
    (void)d, (void)rate, (void)path, (void)features;
    Four* self = calloc(1, sizeof(Four));
    if (self == NULL) {
        return NULL;
    }
    self->k = tb_next_instance();
    tb_log("instantiate", self->k);
    return self;
}

static void connect_port(LV2_Handle h, uint32_t port, void* data)
{
    Four* self = h;
    if (port < 4) {
        self->in[port] = data;
    } else if (port == 4) {
        self->out = data;
    }
}

static void activate(LV2_Handle h) { tb_log("activate", ((Four*)h)->k); }

static void run(LV2_Handle h, uint32_t n)
{
    Four* self = h;
    for (uint32_t i = 0; i < n; ++i) {
        self->out[i] = self->in[0][i] + 10.0f * self->in[1][i] + 100.0f * self->in[2][i]
                       + 1000.0f * self->in[3][i];
    }
}

static void deactivate(LV2_Handle h) { tb_log("deactivate", ((Four*)h)->k); }

static void cleanup(LV2_Handle h)
{
    tb_log("cleanup", ((Four*)h)->k);
    free(h);
}

static const LV2_Descriptor descriptor = {
    "http://tonbrix.test/plugins/four",
    instantiate, connect_port, activate, run, deactivate, cleanup, NULL,
};

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index)
{
    return index == 0 ? &descriptor : NULL;
}
