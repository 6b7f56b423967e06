#pragma once

#include <tonbrix/world.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace tonbrix::cli {

// Prints "<number>\t<uri>" for every plugin, numbered from 1.
void list_plugins(const World& world);

// Prints the audio and control input ports and the writable parameters of
// the plugin the text names, or "No such plugin" on standard error.
void list_ports(const World& world, const char* text);

// Prints "Preset: <label>" for every preset.
void list_presets(const std::vector<PresetDescription>& presets);

// The listing modes in text or as JSON, on standard output. Each returns
// the exit status: 0 for JSON; in text --list and --nameports end with 1,
// as they always have.
int print_plugin_list(const World& world, bool json);
int print_ports(const World& world, const char* text, bool json);
int print_presets(const std::string& plugin_uri, const std::vector<PresetDescription>& presets,
                  bool json);

// --info; "No such plugin" on standard error and 1 when nothing matches.
int print_plugin_info(const World& world, const char* text, bool json);

// Writes the whole text to the stream.
void write_text(std::FILE* stream, std::string_view text);

} // namespace tonbrix::cli
