/* thru2: stereo passthrough; out_l = in_l, out_r = in_r. */
#include <stdint.h>
#include <stdlib.h>

#include <lv2/core/lv2.h>

#include "lifecycle_log.h"

typedef struct {
    int k;
    const float* in_l;
    const float* in_r;
    float* out_l;
    float* out_r;
} Thru2;

static LV2_Handle instantiate(const LV2_Descriptor* d, double rate, const char* path,
                              const LV2_Feature* const* features)
{
    (void)d, (void)rate, (void)path, (void)features;
    Thru2* self = calloc(1, sizeof(Thru2));
    if (self == NULL) {
        return NULL;
    }
    self->k = tb_next_instance();
    tb_log("instantiate", self->k);
    return self;
}

static void connect_port(LV2_Handle h, uint32_t port, void* data)
{
    Thru2* self = h;
    switch (port) {
    case 0: self->in_l = data; break;
    case 1: self->in_r = data; break;
    case 2: self->out_l = data; break;
    case 3: self->out_r = data; break;
    default: break;
    }
}

static void activate(LV2_Handle h) { tb_log("activate", ((Thru2*)h)->k); }

static void run(LV2_Handle h, uint32_t n)
{
    Thru2* self = h;
    for (uint32_t i = 0; i < n; ++i) {
        self->out_l[i] = self->in_l[i];
        self->out_r[i] = self->in_r[i];
    }
}

static void deactivate(LV2_Handle h) { tb_log("deactivate", ((Thru2*)h)->k); }

static void cleanup(LV2_Handle h)
{
    tb_log("cleanup", ((Thru2*)h)->k);
    free(h);
}

static const LV2_Descriptor descriptor = {
    "http://tonbrix.test/plugins/thru2",
    instantiate, connect_port, activate, run, deactivate, cleanup, NULL,
};

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index)
{
    return index == 0 ? &descriptor : NULL;
}
