/* chatty: out = in * gain; instantiate and every run print a line on standard
 * output, as some real plugins do. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <lv2/core/lv2.h>

#include "lifecycle_log.h"

typedef struct {
    int k;
    const float* in;
    float* out;
    const float* gain;
} Chatty;

static LV2_Handle instantiate(const LV2_Descriptor* d, double rate, const char* path,
                              const LV2_Feature* const* features)
{
    (void)d, (void)path, (void)features;
    Chatty* self = calloc(1, sizeof(Chatty));
    if (self == NULL) {
        return NULL;
    }
    self->k = tb_next_instance();
    tb_log("instantiate", self->k);
    printf("chatty: instance %d at %g Hz\n", self->k, rate);
    return self;
}

static void connect_port(LV2_Handle h, uint32_t port, void* data)
{
    Chatty* self = h;
    switch (port) {
    case 0: self->in = data; break;
    case 1: self->out = data; break;
    case 2: self->gain = data; break;
    default: break;
    }
}

static void activate(LV2_Handle h) { tb_log("activate", ((Chatty*)h)->k); }

static void run(LV2_Handle h, uint32_t n)
{
    Chatty* self = h;
    const float gain = *self->gain;
    printf("chatty: run of %u frames\n", (unsigned)n);
    for (uint32_t i = 0; i < n; ++i) {
        self->out[i] = self->in[i] * gain;
    }
}

static void deactivate(LV2_Handle h) { tb_log("deactivate", ((Chatty*)h)->k); }

static void cleanup(LV2_Handle h)
{
    tb_log("cleanup", ((Chatty*)h)->k);
    free(h);
}

static const LV2_Descriptor descriptor = {
    "http://tonbrix.test/plugins/chatty",
    instantiate, connect_port, activate, run, deactivate, cleanup, NULL,
};

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index)
{
    return index == 0 ? &descriptor : NULL;
}
