/* logger / powerof2: report the host features they were given. run(n):
 * out[f] for f < 10 is info[f], out[f] = in[f] after:
 *   0 buf-size:powerOf2BlockLength, 1 fixedBlockLength, 2 boundedBlockLength,
 *   3 coarseBlockLength, 4 state:loadDefaultState, 5 state:mapPath,
 *   6 state:freePath, 7 (1 each) present at instantiate, else 0;
 *   7 the param:sampleRate option (-1 when missing or not a 4-byte Float);
 *   8 1 if state:makePath gave an absolute path for "sub/dir/made.txt" and
 *     a file could be written there, else 0;
 *   9 1 if log:log was given, else 0.
 * `logger` also logs, at instantiate, through log:log when it has it:
 *   error   "error %s %d\n" ("one", 1)      with printf
 *   warning "warning %.1f" (2.5)           with vprintf
 *   note    "a note\n", trace "a trace\n"  (both to be dropped)
 *   error   "two\nlines\n"
 *   error   "%s" with 3000 'x' characters
 * The URI comes from TB_PLUGIN_URI. */
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/core/lv2.h>
#include <lv2/log/log.h>
#include <lv2/options/options.h>
#include <lv2/parameters/parameters.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>

#include "lifecycle_log.h"

#define FIELDS 10

typedef struct {
    int k;
    const float* in;
    float* out;
    float info[FIELDS];
} Features;

static const LV2_Feature* find(const LV2_Feature* const* features, const char* uri)
{
    for (int i = 0; features != NULL && features[i] != NULL; ++i) {
        if (strcmp(features[i]->URI, uri) == 0) {
            return features[i];
        }
    }
    return NULL;
}

static void log_v(const LV2_Log_Log* log, LV2_URID type, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    log->vprintf(log->handle, type, format, args);
    va_end(args);
}

static void log_messages(const LV2_Log_Log* log, LV2_URID_Map* map)
{
    const LV2_URID error = map->map(map->handle, LV2_LOG__Error);
    const LV2_URID warning = map->map(map->handle, LV2_LOG__Warning);
    const LV2_URID note = map->map(map->handle, LV2_LOG__Note);
    const LV2_URID trace = map->map(map->handle, LV2_LOG__Trace);
    log->printf(log->handle, error, "error %s %d\n", "one", 1);
    log_v(log, warning, "warning %.1f", 2.5);
    log->printf(log->handle, note, "a note\n");
    log->printf(log->handle, trace, "a trace\n");
    log->printf(log->handle, error, "two\nlines\n");
    static char long_text[3001];
    memset(long_text, 'x', 3000);
    log->printf(log->handle, error, "%s", long_text);
}

static float sample_rate_option(const LV2_Feature* const* features, LV2_URID_Map* map)
{
    const LV2_Feature* options = find(features, LV2_OPTIONS__options);
    if (options == NULL) {
        return -1.0f;
    }
    const LV2_URID rate = map->map(map->handle, LV2_PARAMETERS__sampleRate);
    const LV2_URID atom_float = map->map(map->handle, LV2_ATOM__Float);
    for (const LV2_Options_Option* o = options->data; o->key != 0 || o->value != NULL; ++o) {
        if (o->key == rate && o->size == 4 && o->type == atom_float && o->value != NULL) {
            return *(const float*)o->value;
        }
    }
    return -1.0f;
}

static float try_make_path(const LV2_Feature* const* features)
{
    const LV2_Feature* feature = find(features, LV2_STATE__makePath);
    const LV2_Feature* free_feature = find(features, LV2_STATE__freePath);
    if (feature == NULL || free_feature == NULL) {
        return 0.0f;
    }
    const LV2_State_Make_Path* make = feature->data;
    const LV2_State_Free_Path* free_path = free_feature->data;
    char* path = make->path(make->handle, "sub/dir/made.txt");
    if (path == NULL) {
        return 0.0f;
    }
    float made = 0.0f;
    FILE* f = path[0] == '/' ? fopen(path, "w") : NULL;
    if (f != NULL) {
        made = fputs("made\n", f) >= 0 ? 1.0f : 0.0f;
        fclose(f);
    }
    free_path->free_path(free_path->handle, path);
    return made;
}

static LV2_Handle instantiate(const LV2_Descriptor* d, double rate, const char* bundle,
                              const LV2_Feature* const* features)
{
    (void)d, (void)rate, (void)bundle;
    const LV2_Feature* map_feature = find(features, LV2_URID__map);
    if (map_feature == NULL) {
        return NULL;
    }
    LV2_URID_Map* map = map_feature->data;
    Features* self = calloc(1, sizeof(Features));
    if (self == NULL) {
        return NULL;
    }
    static const char* const flags[7] = {
        LV2_BUF_SIZE__powerOf2BlockLength, LV2_BUF_SIZE__fixedBlockLength,
        LV2_BUF_SIZE__boundedBlockLength,  LV2_BUF_SIZE__coarseBlockLength,
        LV2_STATE__loadDefaultState,       LV2_STATE__mapPath,
        LV2_STATE__freePath};
    for (int f = 0; f < 7; ++f) {
        self->info[f] = find(features, flags[f]) != NULL ? 1.0f : 0.0f;
    }
    self->info[7] = sample_rate_option(features, map);
    self->info[8] = try_make_path(features);
    const LV2_Feature* log = find(features, LV2_LOG__log);
    self->info[9] = log != NULL ? 1.0f : 0.0f;
    if (log != NULL && strstr(TB_PLUGIN_URI, "/logger") != NULL) {
        log_messages(log->data, map);
    }
    self->k = tb_next_instance();
    tb_log("instantiate", self->k);
    return self;
}

static void connect_port(LV2_Handle h, uint32_t port, void* data)
{
    Features* self = h;
    if (port == 0) {
        self->in = data;
    } else if (port == 1) {
        self->out = data;
    }
}

static void run(LV2_Handle h, uint32_t n)
{
    Features* self = h;
    for (uint32_t i = 0; i < n; ++i) {
        self->out[i] = i < FIELDS ? self->info[i] : self->in[i];
    }
}

static void cleanup(LV2_Handle h)
{
    tb_log("cleanup", ((Features*)h)->k);
    free(h);
}

static const LV2_Descriptor descriptor = {
    TB_PLUGIN_URI, instantiate, connect_port, NULL, run, NULL, cleanup, NULL,
};

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index)
{
    return index == 0 ? &descriptor : NULL;
}
