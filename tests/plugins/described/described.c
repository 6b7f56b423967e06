/* described: a plugin whose data declares every kind of port the world's
 * descriptions carry (see described.ttl). run(n): out[f] = in[f]; the
 * other ports are left alone.
 */
#include <stdint.h>
#include <stdlib.h>

#include <lv2/core/lv2.h>

#include "lifecycle_log.h"

typedef struct {
    int k;
    const float* in;
    float* out;
} Described;

static LV2_Handle instantiate(const LV2_Descriptor* d, double rate, const char* path,
                              const LV2_Feature* const* features)
{
    (void)d, (void)rate, (void)path, (void)features;
    Described* self = calloc(1, sizeof(Described));
    if (self == NULL) {
        return NULL;
    }
    self->k = tb_next_instance();
    tb_log("instantiate", self->k);
    return self;
}

static void connect_port(LV2_Handle h, uint32_t port, void* data)
{
    Described* self = h;
    if (port == 0) {
        self->in = data;
    } else if (port == 1) {
        self->out = data;
    }
}

static void activate(LV2_Handle h) { tb_log("activate", ((Described*)h)->k); }

static void run(LV2_Handle h, uint32_t n)
{
    Described* self = h;
    for (uint32_t f = 0; f < n; ++f) {
        self->out[f] = self->in[f];
    }
}

static void deactivate(LV2_Handle h) { tb_log("deactivate", ((Described*)h)->k); }

static void cleanup(LV2_Handle h)
{
    tb_log("cleanup", ((Described*)h)->k);
    free(h);
}

static const void* extension_data(const char* uri)
{
    (void)uri;
    return NULL;
}

static const LV2_Descriptor descriptor = {
    TB_PLUGIN_URI, instantiate, connect_port, activate, run, deactivate, cleanup, extension_data,
};

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index)
{
    return index == 0 ? &descriptor : NULL;
}
