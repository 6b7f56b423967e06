/* generator: out[i] = frame counter of this instance (0, 1, 2, ... across runs) + offset. */
#include <stdint.h>
#include <stdlib.h>

#include <lv2/core/lv2.h>

#include "lifecycle_log.h"

typedef struct {
    int k;
    float* out;
    const float* offset;
    uint64_t frame;
} Generator;

static LV2_Handle instantiate(const LV2_Descriptor* d, double rate, const char* path,
                              const LV2_Feature* const* features)
{
    (void)d, (void)rate, (void)path, (void)features;
    Generator* self = calloc(1, sizeof(Generator));
    if (self == NULL) {
        return NULL;
    }
    self->k = tb_next_instance();
    tb_log("instantiate", self->k);
    return self;
}

static void connect_port(LV2_Handle h, uint32_t port, void* data)
{
    Generator* self = h;
    switch (port) {
    case 0: self->out = data; break;
    case 1: self->offset = data; break;
    default: break;
    }
}

static void activate(LV2_Handle h) { tb_log("activate", ((Generator*)h)->k); }

static void run(LV2_Handle h, uint32_t n)
{
    Generator* self = h;
    const double offset = *self->offset;
    for (uint32_t i = 0; i < n; ++i) {
        self->out[i] = (float)((double)self->frame + offset);
        ++self->frame;
    }
}

static void deactivate(LV2_Handle h) { tb_log("deactivate", ((Generator*)h)->k); }

static void cleanup(LV2_Handle h)
{
    tb_log("cleanup", ((Generator*)h)->k);
    free(h);
}

static const LV2_Descriptor descriptor = {
    "http://tonbrix.test/plugins/generator",
    instantiate, connect_port, activate, run, deactivate, cleanup, NULL,
};

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index)
{
    return index == 0 ? &descriptor : NULL;
}
