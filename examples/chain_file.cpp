// Runs a sound file through a chain of LV2 plugins with the tonbrix library,
// as `tonbrix -i INPUT -o OUTPUT URI --then URI ...` does:
//   chain_file INPUT OUTPUT PLUGIN-URI [PLUGIN-URI]...
// The output has the input's format; every plugin keeps its defaults.
#include <tonbrix/run.h>
#include <tonbrix/world.h>

#include <cstdio>

namespace {

// Shows the library's notes and warnings as they come.
class PrintEvents final : public tonbrix::EventSink {
public:
    void report(tonbrix::EventKind, std::string_view text) noexcept override
    {
        std::fwrite(text.data(), 1, text.size(), stderr);
    }
};

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fputs("usage: chain_file INPUT OUTPUT PLUGIN-URI [PLUGIN-URI]...\n", stderr);
        return 2;
    }
    auto world = tonbrix::World::load();
    if (!world) {
        std::fputs(world.error().message.c_str(), stderr);
        return 1;
    }
    PrintEvents events;
    tonbrix::RunSettings settings;
    settings.input_file = argv[1];
    settings.output_file = argv[2];
    for (int i = 3; i < argc; ++i) {
        tonbrix::PluginStep step;
        step.uri = argv[i];
        settings.plugins.push_back(step);
    }
    settings.events = &events;

    const tonbrix::RunResult result = tonbrix::run(world.value(), settings);
    for (const tonbrix::RunError& error : result.errors) {
        if (error.step) {
            std::fprintf(stderr, "plugin %zu: ", *error.step + 1);
        }
        std::fputs(error.error.message.c_str(), stderr);
    }
    if (!result.ok()) {
        return 1;
    }
    std::printf("%llu frames written\n", static_cast<unsigned long long>(result.frames_written));
    return 0;
}
