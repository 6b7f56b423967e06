/* invalid: frame c of the instance (counted across runs) is, by c % 5:
 * in, NaN, +infinity, -infinity, NaN with the sign bit set. */
#include <math.h>
#include <stdint.h>
#include <stdlib.h>

#include <lv2/core/lv2.h>

#include "lifecycle_log.h"

typedef struct {
    int k;
    const float* in;
    float* out;
    uint64_t frames;
} Invalid;

static LV2_Handle instantiate(const LV2_Descriptor* d, double rate, const char* path,
                              const LV2_Feature* const* features)
{
    (void)d, (void)rate, (void)path, (void)features;
    Invalid* self = calloc(1, sizeof(Invalid));
    if (self == NULL) {
        return NULL;
    }
    self->k = tb_next_instance();
    tb_log("instantiate", self->k);
    return self;
}

static void connect_port(LV2_Handle h, uint32_t port, void* data)
{
    Invalid* self = h;
    switch (port) {
    case 0: self->in = data; break;
    case 1: self->out = data; break;
    default: break;
    }
}

static void activate(LV2_Handle h) { tb_log("activate", ((Invalid*)h)->k); }

static void run(LV2_Handle h, uint32_t n)
{
    Invalid* self = h;
    for (uint32_t i = 0; i < n; ++i, ++self->frames) {
        switch (self->frames % 5) {
        case 0: self->out[i] = self->in[i]; break;
        case 1: self->out[i] = NAN; break;
        case 2: self->out[i] = INFINITY; break;
        case 3: self->out[i] = -INFINITY; break;
        default: self->out[i] = -(float)NAN; break;
        }
    }
}

static void deactivate(LV2_Handle h) { tb_log("deactivate", ((Invalid*)h)->k); }

static void cleanup(LV2_Handle h)
{
    tb_log("cleanup", ((Invalid*)h)->k);
    free(h);
}

static const LV2_Descriptor descriptor = {
    "http://tonbrix.test/plugins/invalid",
    instantiate, connect_port, activate, run, deactivate, cleanup, NULL,
};

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index)
{
    return index == 0 ? &descriptor : NULL;
}
