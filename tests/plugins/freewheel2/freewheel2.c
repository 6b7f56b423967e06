/* freewheel2: two free-wheeling control inputs; out[0] = fw_a, out[1] = fw_b, rest 0. */
#include <stdint.h>
#include <stdlib.h>

#include <lv2/core/lv2.h>

#include "lifecycle_log.h"

typedef struct {
    int k;
    const float* fw_a;
    const float* fw_b;
    float* out;
} Freewheel2;

static LV2_Handle instantiate(const LV2_Descriptor* d, double rate, const char* path,
                              const LV2_Feature* const* features)
{
    (void)d, (void)rate, (void)path, (void)features;
    Freewheel2* self = calloc(1, sizeof(Freewheel2));
    if (self == NULL) {
        return NULL;
    }
    self->k = tb_next_instance();
    tb_log("instantiate", self->k);
    return self;
}

static void connect_port(LV2_Handle h, uint32_t port, void* data)
{
    Freewheel2* self = h;
    switch (port) {
    case 0: self->fw_a = data; break;
    case 1: self->fw_b = data; break;
    case 2: self->out = data; break;
    default: break;
    }
}

static void activate(LV2_Handle h) { tb_log("activate", ((Freewheel2*)h)->k); }

static void run(LV2_Handle h, uint32_t n)
{
    Freewheel2* self = h;
    for (uint32_t f = 0; f < n; ++f) {
        self->out[f] = f == 0 ? *self->fw_a : f == 1 ? *self->fw_b : 0.0f;
    }
}

static void deactivate(LV2_Handle h) { tb_log("deactivate", ((Freewheel2*)h)->k); }

static void cleanup(LV2_Handle h)
{
    tb_log("cleanup", ((Freewheel2*)h)->k);
    free(h);
}

static const LV2_Descriptor descriptor = {
    "http://tonbrix.test/plugins/freewheel2",
    instantiate, connect_port, activate, run, deactivate, cleanup, NULL,
};

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index)
{
    return index == 0 ? &descriptor : NULL;
}
