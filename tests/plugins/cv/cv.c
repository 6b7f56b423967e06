/* cvrequired / cvoptional: out = in + cv, frame by frame (out = in while "cv"
 * is unconnected); the CV output "cvout", where the bundle has one, gets
 * 2 * cv. The URI comes from TB_PLUGIN_URI, set by CMake per bundle. */
#include <stdint.h>
#include <stdlib.h>

#include <lv2/core/lv2.h>

#include "lifecycle_log.h"

#ifndef TB_PLUGIN_URI
#error "TB_PLUGIN_URI must be defined"
#endif

typedef struct {
    int k;
    const float* in;
    float* out;
    const float* cv;
    float* cvout;
} Cv;

static LV2_Handle instantiate(const LV2_Descriptor* d, double rate, const char* path,
                              const LV2_Feature* const* features)
{
    (void)d, (void)rate, (void)path, (void)features;
    Cv* self = calloc(1, sizeof(Cv));
    if (self == NULL) {
        return NULL;
    }
    self->k = tb_next_instance();
    tb_log("instantiate", self->k);
    return self;
}

static void connect_port(LV2_Handle h, uint32_t port, void* data)
{
    Cv* self = h;
    switch (port) {
    case 0: self->in = data; break;
    case 1: self->out = data; break;
    case 2: self->cv = data; break;
    case 3: self->cvout = data; break;
    default: break;
    }
}

static void activate(LV2_Handle h) { tb_log("activate", ((Cv*)h)->k); }

static void run(LV2_Handle h, uint32_t n)
{
    Cv* self = h;
    for (uint32_t i = 0; i < n; ++i) {
        const float cv = self->cv != NULL ? self->cv[i] : 0.0f;
        self->out[i] = self->in[i] + cv;
        if (self->cvout != NULL) {
            self->cvout[i] = 2.0f * cv;
        }
    }
}

static void deactivate(LV2_Handle h) { tb_log("deactivate", ((Cv*)h)->k); }

static void cleanup(LV2_Handle h)
{
    tb_log("cleanup", ((Cv*)h)->k);
    free(h);
}

static const LV2_Descriptor descriptor = {
    TB_PLUGIN_URI,
    instantiate, connect_port, activate, run, deactivate, cleanup, NULL,
};

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index)
{
    return index == 0 ? &descriptor : NULL;
}
