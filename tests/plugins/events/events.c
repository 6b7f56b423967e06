/* eventprobe, eventecho: show what arrives in an atom input and when.
 *
 * Each MIDI event at frame f adds to marks[f]: (data byte 1 + 1) / 256 for
 * a channel message, 1 + its size for a system exclusive message, and is
 * echoed to the MIDI output at the same frame. A time:Position at frame f
 * sets clock[f] = beatsPerMinute / 1000 (else clock[f] = 0). held[f] =
 * level, cvcopy[f] = cv[f]; meter counts the MIDI events so far. eventecho has only the two atom ports; the
 * module never writes an audio port that is not connected. */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <lv2/atom/atom.h>
#include <lv2/atom/forge.h>
#include <lv2/atom/util.h>
#include <lv2/core/lv2.h>
#include <lv2/midi/midi.h>
#include <lv2/time/time.h>
#include <lv2/urid/urid.h>

#include "lifecycle_log.h"

enum { EVENTS, MIDI_OUT, MARKS, CLOCK, HELD, CVCOPY, LEVEL, CV, METER, PORT_COUNT };

typedef struct {
    int k;
    LV2_URID midi_event;
    LV2_URID position;
    LV2_URID bpm;
    LV2_URID chunk;
    LV2_Atom_Forge forge;
    float received; /* MIDI events so far */
    void* ports[PORT_COUNT];
} Probe;

static LV2_Handle instantiate(const LV2_Descriptor* d, double rate, const char* path,
                              const LV2_Feature* const* features)
{
    (void)d, (void)rate, (void)path;
    LV2_URID_Map* map = NULL;
    for (int i = 0; features != NULL && features[i] != NULL; ++i) {
        if (strcmp(features[i]->URI, LV2_URID__map) == 0) {
            map = features[i]->data;
        }
    }
    if (map == NULL) {
        return NULL;
    }
    Probe* self = calloc(1, sizeof(Probe));
    if (self == NULL) {
        return NULL;
    }
    self->midi_event = map->map(map->handle, LV2_MIDI__MidiEvent);
    self->position = map->map(map->handle, LV2_TIME__Position);
    self->bpm = map->map(map->handle, LV2_TIME__beatsPerMinute);
    self->chunk = map->map(map->handle, LV2_ATOM__Chunk);
    lv2_atom_forge_init(&self->forge, map);
    self->k = tb_next_instance();
    tb_log("instantiate", self->k);
    return self;
}

static void connect_port(LV2_Handle h, uint32_t port, void* data)
{
    Probe* self = h;
    if (port < PORT_COUNT) {
        self->ports[port] = data;
    }
}

static void clear(float* buffer, uint32_t n)
{
    if (buffer != NULL) {
        memset(buffer, 0, n * sizeof(float));
    }
}

static void run(LV2_Handle h, uint32_t n)
{
    Probe* self = h;
    float* marks = self->ports[MARKS];
    float* clock = self->ports[CLOCK];
    float* held = self->ports[HELD];
    float* cvcopy = self->ports[CVCOPY];
    const float* level = self->ports[LEVEL];
    const float* cv = self->ports[CV];
    clear(marks, n);
    clear(clock, n);
    for (uint32_t f = 0; f < n; ++f) {
        if (held != NULL) {
            held[f] = level != NULL ? *level : 0.0f;
        }
        if (cvcopy != NULL) {
            cvcopy[f] = cv != NULL ? cv[f] : 0.0f;
        }
    }

    LV2_Atom_Sequence* out = self->ports[MIDI_OUT];
    LV2_Atom_Forge_Frame frame;
    if (out != NULL) {
        lv2_atom_forge_set_buffer(&self->forge, (uint8_t*)out, sizeof(LV2_Atom) + out->atom.size);
        lv2_atom_forge_sequence_head(&self->forge, &frame, 0);
    }
    const LV2_Atom_Sequence* in = self->ports[EVENTS];
    if (in != NULL) {
        LV2_ATOM_SEQUENCE_FOREACH (in, ev) {
            const int64_t t = ev->time.frames;
            if (t < 0 || t >= (int64_t)n) {
                continue;
            }
            if (ev->body.type == self->midi_event && ev->body.size > 0) {
                const uint8_t* bytes = (const uint8_t*)(ev + 1);
                self->received += 1.0f;
                if (marks != NULL) {
                    marks[t] += bytes[0] == 0xF0 ? 1.0f + (float)ev->body.size
                                : ev->body.size > 1 ? (bytes[1] + 1) / 256.0f
                                                    : 0.0f;
                }
                if (out != NULL) {
                    lv2_atom_forge_frame_time(&self->forge, t);
                    lv2_atom_forge_atom(&self->forge, ev->body.size, self->midi_event);
                    lv2_atom_forge_write(&self->forge, bytes, ev->body.size);
                }
            } else if (lv2_atom_forge_is_object_type(&self->forge, ev->body.type)) {
                const LV2_Atom_Object* object = (const LV2_Atom_Object*)&ev->body;
                if (object->body.otype != self->position) {
                    continue;
                }
                const LV2_Atom* bpm = NULL;
                lv2_atom_object_get(object, self->bpm, &bpm, 0);
                if (bpm != NULL && bpm->type == self->forge.Float && clock != NULL) {
                    clock[t] = ((const LV2_Atom_Float*)bpm)->body / 1000.0f;
                }
            }
        }
    }
    if (out != NULL) {
        lv2_atom_forge_pop(&self->forge, &frame);
    }
    if (self->ports[METER] != NULL) {
        *(float*)self->ports[METER] = self->received;
    }
}

static void cleanup(LV2_Handle h)
{
    Probe* self = h;
    tb_log("cleanup", self->k);
    free(self);
}

static const LV2_Descriptor descriptor = {
    TB_PLUGIN_URI, instantiate, connect_port, NULL, run, NULL, cleanup, NULL,
};

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index)
{
    return index == 0 ? &descriptor : NULL;
}
