/* noactivate: out = in; the descriptor has no activate and no deactivate. */
#include <stdint.h>
#include <stdlib.h>

#include <lv2/core/lv2.h>

#include "lifecycle_log.h"

typedef struct {
    int k;
    const float* in;
    float* out;
} NoActivate;

static LV2_Handle instantiate(const LV2_Descriptor* d, double rate, const char* path,
                              const LV2_Feature* const* features)
{
    (void)d, (void)rate, (void)path, (void)features;
    NoActivate* self = calloc(1, sizeof(NoActivate));
    if (self == NULL) {
        return NULL;
    }
    self->k = tb_next_instance();
    tb_log("instantiate", self->k);
    return self;
}

static void connect_port(LV2_Handle h, uint32_t port, void* data)
{
    NoActivate* self = h;
    switch (port) {
    case 0: self->in = data; break;
    case 1: self->out = data; break;
    default: break;
    }
}

static void run(LV2_Handle h, uint32_t n)
{
    NoActivate* self = h;
    for (uint32_t i = 0; i < n; ++i) {
        self->out[i] = self->in[i];
    }
}

static void cleanup(LV2_Handle h)
{
    tb_log("cleanup", ((NoActivate*)h)->k);
    free(h);
}

static const LV2_Descriptor descriptor = {
    "http://tonbrix.test/plugins/noactivate",
    instantiate, connect_port, NULL, run, NULL, cleanup, NULL,
};

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index)
{
    return index == 0 ? &descriptor : NULL;
}
