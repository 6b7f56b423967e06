#include "lv2/patch_messages.h"

#include <lv2/atom/forge.h>
#include <lv2/patch/patch.h>

namespace tonbrix {

namespace {

bool forge_patch_sets(LV2_Atom_Forge& forge, const std::vector<ParameterValue>& values,
                      LV2_URID_Map* map)
{
    const LV2_URID set = map->map(map->handle, LV2_PATCH__Set);
    const LV2_URID property = map->map(map->handle, LV2_PATCH__property);
    const LV2_URID value_key = map->map(map->handle, LV2_PATCH__value);
    LV2_Atom_Forge_Frame sequence_frame;
    if (lv2_atom_forge_sequence_head(&forge, &sequence_frame, 0) == 0) {
        return false;
    }
    for (const ParameterValue& value : values) {
        const LV2_URID key = map->map(map->handle, value.uri.c_str());
        const LV2_URID type = map->map(map->handle, value.type.c_str());
        const auto size = static_cast<uint32_t>(value.body.size());
        LV2_Atom_Forge_Frame object_frame;
        if (lv2_atom_forge_frame_time(&forge, 0) == 0 ||
            lv2_atom_forge_object(&forge, &object_frame, 0, set) == 0 ||
            lv2_atom_forge_key(&forge, property) == 0 || lv2_atom_forge_urid(&forge, key) == 0 ||
            lv2_atom_forge_key(&forge, value_key) == 0 ||
            lv2_atom_forge_atom(&forge, size, type) == 0 ||
            lv2_atom_forge_write(&forge, value.body.data(), size) == 0) {
            return false;
        }
        lv2_atom_forge_pop(&forge, &object_frame);
    }
    lv2_atom_forge_pop(&forge, &sequence_frame);
    return true;
}

} // namespace

bool write_patch_sets(LV2_Atom_Sequence* buffer, uint32_t body_capacity,
                      const std::vector<ParameterValue>& values, LV2_URID_Map* map)
{
    const LV2_URID sequence_type = buffer->atom.type;
    LV2_Atom_Forge forge;
    lv2_atom_forge_init(&forge, map);
    lv2_atom_forge_set_buffer(&forge, reinterpret_cast<uint8_t*>(buffer),
                              sizeof(LV2_Atom) + body_capacity);
    if (forge_patch_sets(forge, values, map)) {
        return true;
    }
    buffer->atom.size = sizeof(LV2_Atom_Sequence_Body);
    buffer->atom.type = sequence_type;
    buffer->body.unit = 0;
    buffer->body.pad = 0;
    return false;
}

} // namespace tonbrix
