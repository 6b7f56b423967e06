/* noname: out = in; the control input "anon" has no lv2:name. */
#include <stdint.h>
#include <stdlib.h>

#include <lv2/core/lv2.h>

#include "lifecycle_log.h"

typedef struct {
    int k;
    const float* in;
    float* out;
    const float* anon;
} NoName;

static LV2_Handle instantiate(const LV2_Descriptor* d, double rate, const char* path,
                              const LV2_Feature* const* features)
{
    (void)d, (void)rate, (void)path, (void)features;
    NoName* self = calloc(1, sizeof(NoName));
    if (self == NULL) {
        return NULL;
    }
    self->k = tb_next_instance();
    tb_log("instantiate", self->k);
    return self;
}

static void connect_port(LV2_Handle h, uint32_t port, void* data)
{
    NoName* self = h;
    switch (port) {
    case 0: self->in = data; break;
    case 1: self->out = data; break;
    case 2: self->anon = data; break;
    default: break;
    }
}

static void activate(LV2_Handle h) { tb_log("activate", ((NoName*)h)->k); }

static void run(LV2_Handle h, uint32_t n)
{
    NoName* self = h;
    for (uint32_t i = 0; i < n; ++i) {
        self->out[i] = self->in[i];
    }
}

static void deactivate(LV2_Handle h) { tb_log("deactivate", ((NoName*)h)->k); }

static void cleanup(LV2_Handle h)
{
    tb_log("cleanup", ((NoName*)h)->k);
    free(h);
}

static const LV2_Descriptor descriptor = {
    "http://tonbrix.test/plugins/noname",
    instantiate, connect_port, activate, run, deactivate, cleanup, NULL,
};

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index)
{
    return index == 0 ? &descriptor : NULL;
}
