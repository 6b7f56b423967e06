/* raise: out = in; raises the signal numbered by the `signal` control once
 * the instance has run `after` frames. 11 is a real write through a null
 * pointer, 6 is abort(); any other number is raise(), `times` times in a
 * row. */
#include <signal.h>
#include <stdint.h>
#include <stdlib.h>

#include <lv2/core/lv2.h>

#include "lifecycle_log.h"

typedef struct {
    int k;
    const float* in;
    float* out;
    const float* signal;
    const float* after;
    const float* times;
    double frames;
    int raised;
} Raise;

static LV2_Handle instantiate(const LV2_Descriptor* d, double rate, const char* path,
                              const LV2_Feature* const* features)
{
    (void)d, (void)rate, (void)path, (void)features;
    Raise* self = calloc(1, sizeof(Raise));
    if (self == NULL) {
        return NULL;
    }
    self->k = tb_next_instance();
    tb_log("instantiate", self->k);
    return self;
}

static void connect_port(LV2_Handle h, uint32_t port, void* data)
{
    Raise* self = h;
    switch (port) {
    case 0: self->in = data; break;
    case 1: self->out = data; break;
    case 2: self->signal = data; break;
    case 3: self->after = data; break;
    case 4: self->times = data; break;
    default: break;
    }
}

static void activate(LV2_Handle h) { tb_log("activate", ((Raise*)h)->k); }

/* A real fault, not one a sanitizer stops first. */
__attribute__((no_sanitize("address", "undefined"))) static void write_through_null(void)
{
    *(volatile int*)(uintptr_t)0 = 1;
}

static void run(LV2_Handle h, uint32_t n)
{
    Raise* self = h;
    for (uint32_t i = 0; i < n; ++i) {
        self->out[i] = self->in[i];
    }
    const int number = (int)*self->signal;
    if (number > 0 && !self->raised && self->frames >= *self->after) {
        self->raised = 1;
        if (number == SIGSEGV) {
            write_through_null();
        } else if (number == SIGABRT) {
            abort();
        } else {
            for (int i = 0; i < (int)*self->times; ++i) {
                raise(number);
            }
        }
    }
    self->frames += n;
}

static void deactivate(LV2_Handle h) { tb_log("deactivate", ((Raise*)h)->k); }

static void cleanup(LV2_Handle h)
{
    tb_log("cleanup", ((Raise*)h)->k);
    free(h);
}

static const LV2_Descriptor descriptor = {
    "http://tonbrix.test/plugins/raise",
    instantiate, connect_port, activate, run, deactivate, cleanup, NULL,
};

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index)
{
    return index == 0 ? &descriptor : NULL;
}
