#include "lv2/uri_nodes.h"

#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/presets/presets.h>
#include <lv2/worker/worker.h>

namespace tonbrix {

bool make_uri_nodes(LilvWorld* world, UriNodes& nodes)
{
    nodes.input_port.reset(lilv_new_uri(world, LV2_CORE__InputPort));
    nodes.output_port.reset(lilv_new_uri(world, LV2_CORE__OutputPort));
    nodes.control_port.reset(lilv_new_uri(world, LV2_CORE__ControlPort));
    nodes.audio_port.reset(lilv_new_uri(world, LV2_CORE__AudioPort));
    nodes.cv_port.reset(lilv_new_uri(world, LV2_CORE__CVPort));
    nodes.preset.reset(lilv_new_uri(world, LV2_PRESETS__Preset));
    nodes.connection_optional.reset(lilv_new_uri(world, LV2_CORE__connectionOptional));
    nodes.free_wheeling.reset(lilv_new_uri(world, LV2_CORE__freeWheeling));
    nodes.reports_latency.reset(lilv_new_uri(world, LV2_CORE__reportsLatency));
    nodes.latency_designation.reset(lilv_new_uri(world, LV2_CORE__latency));
    nodes.designation.reset(lilv_new_uri(world, LV2_CORE__designation));
    nodes.rdfs_label.reset(lilv_new_uri(world, LILV_NS_RDFS "label"));
    nodes.atom_port.reset(lilv_new_uri(world, LV2_ATOM__AtomPort));
    nodes.worker_schedule.reset(lilv_new_uri(world, LV2_WORKER__schedule));
    nodes.worker_interface.reset(lilv_new_uri(world, LV2_WORKER__interface));
    nodes.sample_rate.reset(lilv_new_uri(world, LV2_CORE__sampleRate));
    return nodes.input_port && nodes.output_port && nodes.control_port && nodes.audio_port &&
           nodes.cv_port &&
           nodes.preset && nodes.connection_optional && nodes.free_wheeling &&
           nodes.reports_latency && nodes.latency_designation && nodes.designation &&
           nodes.rdfs_label && nodes.atom_port &&
           nodes.worker_schedule && nodes.worker_interface && nodes.sample_rate;
}

} // namespace tonbrix
