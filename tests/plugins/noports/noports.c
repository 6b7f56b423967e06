/* noports: a plugin without any port; run does nothing. */
#include <stdint.h>
#include <stdlib.h>

#include <lv2/core/lv2.h>

#include "lifecycle_log.h"

typedef struct {
    int k;
} NoPorts;

static LV2_Handle instantiate(const LV2_Descriptor* d, double rate, const char* path,
                              const LV2_Feature* const* features)
{
    (void)d, (void)rate, (void)path, (void)features;
    NoPorts* self = calloc(1, sizeof(NoPorts));
    if (self == NULL) {
        return NULL;
    }
    self->k = tb_next_instance();
    tb_log("instantiate", self->k);
    return self;
}

static void connect_port(LV2_Handle h, uint32_t port, void* data) { (void)h, (void)port, (void)data; }

static void activate(LV2_Handle h) { tb_log("activate", ((NoPorts*)h)->k); }

static void run(LV2_Handle h, uint32_t n) { (void)h, (void)n; }

static void deactivate(LV2_Handle h) { tb_log("deactivate", ((NoPorts*)h)->k); }

static void cleanup(LV2_Handle h)
{
    tb_log("cleanup", ((NoPorts*)h)->k);
    free(h);
}

static const LV2_Descriptor descriptor = {
    "http://tonbrix.test/plugins/noports",
    instantiate, connect_port, activate, run, deactivate, cleanup, NULL,
};

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index)
{
    return index == 0 ? &descriptor : NULL;
}
