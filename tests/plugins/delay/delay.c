/* delay: out[f] = in[f - d] (silence before the first input frame), where
 * d = delay + k * stagger for instance k. The latency output reports d, or
 * the `report` control when that is not -2. */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <lv2/core/lv2.h>

#include "lifecycle_log.h"

enum { capacity = 1 << 20 };

typedef struct {
    int k;
    const float* in;
    float* out;
    const float* delay;
    const float* stagger;
    const float* report;
    float* latency;
    float* history; /* ring of `capacity` past input samples */
    uint64_t frame;
} Delay;

static LV2_Handle instantiate(const LV2_Descriptor* d, double rate, const char* path,
                              const LV2_Feature* const* features)
{
    (void)d, (void)rate, (void)path, (void)features;
    Delay* self = calloc(1, sizeof(Delay));
    if (self == NULL) {
        return NULL;
    }
    self->history = calloc(capacity, sizeof(float));
    if (self->history == NULL) {
        free(self);
        return NULL;
    }
    self->k = tb_next_instance();
    tb_log("instantiate", self->k);
    return self;
}

static void connect_port(LV2_Handle h, uint32_t port, void* data)
{
    Delay* self = h;
    switch (port) {
    case 0: self->in = data; break;
    case 1: self->out = data; break;
    case 2: self->delay = data; break;
    case 3: self->stagger = data; break;
    case 4: self->report = data; break;
    case 5: self->latency = data; break;
    default: break;
    }
}

/* Activation starts the stream again: an empty history from frame 0. */
static void activate(LV2_Handle h)
{
    Delay* self = h;
    tb_log("activate", self->k);
    memset(self->history, 0, capacity * sizeof(float));
    self->frame = 0;
}

static void run(LV2_Handle h, uint32_t n)
{
    Delay* self = h;
    const uint64_t d = (uint64_t)(*self->delay + (float)self->k * *self->stagger);
    for (uint32_t i = 0; i < n; ++i) {
        const uint64_t now = self->frame + i;
        self->history[now % capacity] = self->in[i];
        self->out[i] = now >= d && d < capacity ? self->history[(now - d) % capacity] : 0.0f;
    }
    self->frame += n;
    *self->latency = *self->report == -2.0f ? (float)d : *self->report;
}

static void deactivate(LV2_Handle h) { tb_log("deactivate", ((Delay*)h)->k); }

static void cleanup(LV2_Handle h)
{
    Delay* self = h;
    tb_log("cleanup", self->k);
    free(self->history);
    free(self);
}

static const LV2_Descriptor descriptor = {
    "http://tonbrix.test/plugins/delay",
    instantiate, connect_port, activate, run, deactivate, cleanup, NULL,
};

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index)
{
    return index == 0 ? &descriptor : NULL;
}
