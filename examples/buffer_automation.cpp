// Runs a buffer in memory through an LV2 plugin with the tonbrix library,
// one control following points over time, and reads the plugin's control
// outputs every half second, as `tonbrix --automate ... --report-every 0.5`
// does with files:
//   buffer_automation PLUGIN-URI AUTOMATION RAW-INPUT RAW-OUTPUT
// AUTOMATION is "SYMBOL:TIME=VALUE,..." as --automate takes it. The input,
// one second of a 441 Hz sine at 48000 Hz, is written to RAW-INPUT (mono
// 32-bit floats), the output to RAW-OUTPUT, and the readings are printed
// as --report-every prints them.
#include <tonbrix/memory.h>
#include <tonbrix/number_text.h>
#include <tonbrix/run.h>
#include <tonbrix/world.h>

#include <cmath>
#include <cstdio>
#include <vector>

namespace {

bool write_floats(const char* path, const std::vector<std::vector<float>>& channels,
                  std::size_t frames)
{
    FILE* file = std::fopen(path, "wb");
    if (file == nullptr) {
        std::perror(path);
        return false;
    }
    for (std::size_t f = 0; f < frames; ++f) {
        for (const std::vector<float>& channel : channels) {
            std::fwrite(&channel[f], sizeof(float), 1, file);
        }
    }
    return std::fclose(file) == 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 5) {
        std::fputs("usage: buffer_automation PLUGIN-URI AUTOMATION RAW-INPUT RAW-OUTPUT\n",
                   stderr);
        return 2;
    }
    auto world = tonbrix::World::load();
    if (!world) {
        std::fputs(world.error().message.c_str(), stderr);
        return 1;
    }
    auto automation = tonbrix::parse_automation(argv[2]);
    if (!automation) {
        std::fputs(automation.error().message.c_str(), stderr);
        return 1;
    }

    constexpr int rate = 48000;
    std::vector<float> sine(rate);
    for (std::size_t f = 0; f < sine.size(); ++f) {
        sine[f] = 0.5f * static_cast<float>(std::sin(2.0 * M_PI * 441.0 * f / rate));
    }
    if (!write_floats(argv[3], {sine}, sine.size())) {
        return 1;
    }

    tonbrix::MemorySource input({sine.data()}, sine.size());
    tonbrix::MemorySink output;
    tonbrix::RunSettings settings;
    tonbrix::PluginStep plugin;
    plugin.uri = argv[1];
    plugin.automation.push_back(std::move(automation.value()));
    settings.plugins.push_back(std::move(plugin));
    settings.source = &input;
    settings.sample_rate = rate;
    settings.sink = &output;
    settings.readings = true;
    settings.reading_period_seconds = 0.5;

    const tonbrix::RunResult result = tonbrix::run(world.value(), settings);
    for (const tonbrix::RunError& error : result.errors) {
        std::fputs(error.error.message.c_str(), stderr);
    }
    if (!result.ok()) {
        return 1;
    }
    for (const tonbrix::PluginReadings& readings : result.readings) {
        for (const tonbrix::Reading& reading : readings.readings) {
            const std::string time = tonbrix::seconds_text(reading.frame, rate) + " ";
            std::fputs(tonbrix::reading_text(readings.symbols, reading, time).c_str(), stdout);
        }
    }
    return write_floats(argv[4], output.channels(), result.frames_written) ? 0 : 1;
}
