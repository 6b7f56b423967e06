/* annotated: a plugin whose data uses every fact --info shows (units,
 * scale points, port properties, a CV input, atom inputs, a latency port,
 * parameters, presets, features); out[f] = 0 and the outputs stay 0. */
#include <stdint.h>
#include <stdlib.h>

#include <lv2/core/lv2.h>

enum { N_PORTS = 12, P_LATENCY = 9, P_LEVEL = 10, P_OUT = 11 };

typedef struct {
    void* ports[N_PORTS];
} Annotated;

static LV2_Handle instantiate(const LV2_Descriptor* d, double rate, const char* path,
                              const LV2_Feature* const* features)
{
    (void)d, (void)rate, (void)path, (void)features;
    return calloc(1, sizeof(Annotated));
}

static void connect_port(LV2_Handle h, uint32_t port, void* data)
{
    if (port < N_PORTS) {
        ((Annotated*)h)->ports[port] = data;
    }
}

static void run(LV2_Handle h, uint32_t n)
{
    Annotated* self = h;
    *(float*)self->ports[P_LATENCY] = 0.0f;
    *(float*)self->ports[P_LEVEL] = 0.0f;
    float* out = self->ports[P_OUT];
    for (uint32_t f = 0; f < n; ++f) {
        out[f] = 0.0f;
    }
}

static void cleanup(LV2_Handle h) { free(h); }

static const LV2_Descriptor descriptor = {
    "http://tonbrix.test/plugins/annotated", instantiate, connect_port, NULL, run, NULL, cleanup,
    NULL,
};

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index)
{
    return index == 0 ? &descriptor : NULL;
}
