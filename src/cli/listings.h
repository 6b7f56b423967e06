#pragma once

#include <lilv/lilv.h>

#include <cstdio>
#include <string>
#include <string_view>

// The listing modes in text or as JSON, on standard output. Each returns
// the exit status: 0 for JSON; in text --list and --nameports end with 1,
// as they always have.

int print_plugin_list(const LilvPlugins* plugins, bool json);

int print_ports(LilvWorld* world, const LilvPlugins* plugins, const char* text, bool json);

// --info; "No such plugin" on standard error and 1 when nothing matches.
int print_plugin_info(LilvWorld* world, const LilvPlugins* plugins, const char* text, bool json);

int print_presets(LilvWorld* world, const LilvPlugin* plugin, bool json);

// Writes the whole text to the stream.
void write_text(std::FILE* stream, std::string_view text);
