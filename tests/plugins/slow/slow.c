/* slow: out = in; every run first sleeps `delay` milliseconds. */
#define _POSIX_C_SOURCE 200809L
#include <errno.h>
#include <stdint.h>
#include <stdlib.h>
#include <time.h>

#include <lv2/core/lv2.h>

#include "lifecycle_log.h"

typedef struct {
    int k;
    const float* in;
    float* out;
    const float* delay;
} Slow;

static LV2_Handle instantiate(const LV2_Descriptor* d, double rate, const char* path,
                              const LV2_Feature* const* features)
{
    (void)d, (void)rate, (void)path, (void)features;
    Slow* self = calloc(1, sizeof(Slow));
    if (self == NULL) {
        return NULL;
    }
    self->k = tb_next_instance();
    tb_log("instantiate", self->k);
    return self;
}

static void connect_port(LV2_Handle h, uint32_t port, void* data)
{
    Slow* self = h;
    switch (port) {
    case 0: self->in = data; break;
    case 1: self->out = data; break;
    case 2: self->delay = data; break;
    default: break;
    }
}

static void activate(LV2_Handle h) { tb_log("activate", ((Slow*)h)->k); }

static void run(LV2_Handle h, uint32_t n)
{
    Slow* self = h;
    const float ms = *self->delay;
    if (ms > 0.0f) {
        const long whole = (long)ms;
        struct timespec pause = {whole / 1000, (whole % 1000) * 1000000L};
        while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
        }
    }
    for (uint32_t i = 0; i < n; ++i) {
        self->out[i] = self->in[i];
    }
}

static void deactivate(LV2_Handle h) { tb_log("deactivate", ((Slow*)h)->k); }

static void cleanup(LV2_Handle h)
{
    tb_log("cleanup", ((Slow*)h)->k);
    free(h);
}

static const LV2_Descriptor descriptor = {
    "http://tonbrix.test/plugins/slow",
    instantiate, connect_port, activate, run, deactivate, cleanup, NULL,
};

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index)
{
    return index == 0 ? &descriptor : NULL;
}
