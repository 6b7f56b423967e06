// Plays a MIDI file on an LV2 instrument with the tonbrix library and keeps
// the sound in memory, as `tonbrix -j 1 --midi FILE --tail SECONDS -o OUT URI`
// does with a file:
//   midi_to_memory MIDI-FILE PLUGIN-URI TAIL-SECONDS RAW-OUTPUT
// The sound is written to RAW-OUTPUT as interleaved 32-bit floats at
// 48000 Hz, and its length and peak are printed.
#include <tonbrix/memory.h>
#include <tonbrix/midi.h>
#include <tonbrix/run.h>
#include <tonbrix/world.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc != 5) {
        std::fputs("usage: midi_to_memory MIDI-FILE PLUGIN-URI TAIL-SECONDS RAW-OUTPUT\n",
                   stderr);
        return 2;
    }
    auto world = tonbrix::World::load();
    if (!world) {
        std::fputs(world.error().message.c_str(), stderr);
        return 1;
    }
    // The events in memory: read here, but they could come from anywhere.
    auto midi = tonbrix::read_midi_file(argv[1]);
    if (!midi) {
        std::fputs(midi.error().message.c_str(), stderr);
        return 1;
    }

    tonbrix::MemorySink sound;
    tonbrix::RunSettings settings;
    tonbrix::PluginStep instrument;
    instrument.uri = argv[2];
    instrument.midi = std::move(midi.value());
    settings.plugins.push_back(std::move(instrument));
    settings.sink = &sound;
    settings.tail_seconds = std::strtod(argv[3], nullptr);
    settings.jobs = 1; // all on the calling thread, as `tonbrix -j 1`

    const tonbrix::RunResult result = tonbrix::run(world.value(), settings);
    for (const tonbrix::RunError& error : result.errors) {
        std::fputs(error.error.message.c_str(), stderr);
    }
    if (!result.ok()) {
        return 1;
    }

    const auto& channels = sound.channels();
    float peak = 0.0f;
    FILE* raw = std::fopen(argv[4], "wb");
    if (raw == nullptr) {
        std::perror(argv[4]);
        return 1;
    }
    for (std::size_t f = 0; f < result.frames_written; ++f) {
        for (const std::vector<float>& channel : channels) {
            std::fwrite(&channel[f], sizeof(float), 1, raw);
            peak = std::fmax(peak, std::fabs(channel[f]));
        }
    }
    std::fclose(raw);
    std::printf("%zu channels, %llu frames at %d Hz, peak %.3f\n", channels.size(),
                static_cast<unsigned long long>(result.frames_written), result.sample_rate,
                static_cast<double>(peak));
    return peak > 0.0f ? 0 : 1;
}
