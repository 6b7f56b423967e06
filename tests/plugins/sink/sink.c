/* sink: one audio input, no audio output; control output level = last input sample. */
#include <stdint.h>
#include <stdlib.h>

#include <lv2/core/lv2.h>

#include "lifecycle_log.h"

typedef struct {
    int k;
    const float* in;
    float* level;
} Sink;

static LV2_Handle instantiate(const LV2_Descriptor* d, double rate, const char* path,
                              const LV2_Feature* const* features)
{
    (void)d, (void)rate, (void)path, (void)features;
    Sink* self = calloc(1, sizeof(Sink));
    if (self == NULL) {
        return NULL;
    }
    self->k = tb_next_instance();
    tb_log("instantiate", self->k);
    return self;
}

static void connect_port(LV2_Handle h, uint32_t port, void* data)
{
    Sink* self = h;
    switch (port) {
    case 0: self->in = data; break;
    case 1: self->level = data; break;
    default: break;
    }
}

static void activate(LV2_Handle h) { tb_log("activate", ((Sink*)h)->k); }

static void run(LV2_Handle h, uint32_t n)
{
    Sink* self = h;
    if (n > 0) {
        *self->level = self->in[n - 1];
    }
}

static void deactivate(LV2_Handle h) { tb_log("deactivate", ((Sink*)h)->k); }

static void cleanup(LV2_Handle h)
{
    tb_log("cleanup", ((Sink*)h)->k);
    free(h);
}

static const LV2_Descriptor descriptor = {
    "http://tonbrix.test/plugins/sink",
    instantiate, connect_port, activate, run, deactivate, cleanup, NULL,
};

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index)
{
    return index == 0 ? &descriptor : NULL;
}
