/* failsecond: out = in; the second instantiation in the process (k == 1) fails.
 * The failed attempt logs "instantiate 1 failed". */
#include <stdint.h>
#include <stdlib.h>

#include <lv2/core/lv2.h>

#include "lifecycle_log.h"

typedef struct {
    int k;
    const float* in;
    float* out;
} FailSecond;

static LV2_Handle instantiate(const LV2_Descriptor* d, double rate, const char* path,
                              const LV2_Feature* const* features)
{
    (void)d, (void)rate, (void)path, (void)features;
    const int k = tb_next_instance();
    if (k == 1) {
        tb_log_line("instantiate 1 failed");
        return NULL;
    }
    FailSecond* self = calloc(1, sizeof(FailSecond));
    if (self == NULL) {
        return NULL;
    }
    self->k = k;
    tb_log("instantiate", self->k);
    return self;
}

static void connect_port(LV2_Handle h, uint32_t port, void* data)
{
    FailSecond* self = h;
    switch (port) {
    case 0: self->in = data; break;
    case 1: self->out = data; break;
    default: break;
    }
}

static void activate(LV2_Handle h) { tb_log("activate", ((FailSecond*)h)->k); }

static void run(LV2_Handle h, uint32_t n)
{
    FailSecond* self = h;
    for (uint32_t i = 0; i < n; ++i) {
        self->out[i] = self->in[i];
    }
}

static void deactivate(LV2_Handle h) { tb_log("deactivate", ((FailSecond*)h)->k); }

static void cleanup(LV2_Handle h)
{
    tb_log("cleanup", ((FailSecond*)h)->k);
    free(h);
}

static const LV2_Descriptor descriptor = {
    "http://tonbrix.test/plugins/failsecond",
    instantiate, connect_port, activate, run, deactivate, cleanup, NULL,
};

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index)
{
    return index == 0 ? &descriptor : NULL;
}
