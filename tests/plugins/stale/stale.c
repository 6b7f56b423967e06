/* stale: out[f] = in[f] + 0.75 * out[f - 1], the state kept from one run to
 * the next and, as in some real reverbs and delays, through deactivate and
 * activate: only a new instance starts from silence. */
#include <lv2/core/lv2.h>

#include <stdlib.h>

#include "lifecycle_log.h"

typedef struct {
    int k;
    const float* in;
    float* out;
    float last;
} Stale;

static LV2_Handle instantiate(const LV2_Descriptor* d, double rate, const char* path,
                              const LV2_Feature* const* features)
{
    (void)d, (void)rate, (void)path, (void)features;
    Stale* self = calloc(1, sizeof(Stale));
    if (self != NULL) {
        self->k = tb_next_instance();
        tb_log("instantiate", self->k);
    }
    return self;
}

static void connect_port(LV2_Handle h, uint32_t port, void* data)
{
    Stale* self = h;
    if (port == 0) {
        self->in = data;
    } else if (port == 1) {
        self->out = data;
    }
}

static void activate(LV2_Handle h) { tb_log("activate", ((Stale*)h)->k); }

static void run(LV2_Handle h, uint32_t n)
{
    Stale* self = h;
    for (uint32_t i = 0; i < n; ++i) {
        self->last = self->in[i] + 0.75f * self->last;
        self->out[i] = self->last;
    }
}

static void deactivate(LV2_Handle h) { tb_log("deactivate", ((Stale*)h)->k); }

static void cleanup(LV2_Handle h)
{
    tb_log("cleanup", ((Stale*)h)->k);
    free(h);
}

static const LV2_Descriptor descriptor = {
    "http://tonbrix.test/plugins/stale",
    instantiate, connect_port, activate, run, deactivate, cleanup, NULL,
};

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index)
{
    return index == 0 ? &descriptor : NULL;
}
