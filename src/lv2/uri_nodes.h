#pragma once

#include "lv2/lilv_owners.h"

namespace tonbrix {

// The URI nodes that a list-presets or processing run shares.
struct UriNodes {
    NodePtr input_port;
    NodePtr output_port;
    NodePtr control_port;
    NodePtr audio_port;
    NodePtr cv_port;
    NodePtr preset;
    NodePtr connection_optional;
    NodePtr free_wheeling;
    NodePtr reports_latency;
    NodePtr latency_designation;
    NodePtr designation;
    NodePtr rdfs_label;
    NodePtr atom_port;
    NodePtr worker_schedule;
    NodePtr worker_interface;
    NodePtr sample_rate; // the port property lv2:sampleRate
};

// Makes all the nodes; false when any of them cannot be made.
bool make_uri_nodes(LilvWorld* world, UriNodes& nodes);

} // namespace tonbrix
