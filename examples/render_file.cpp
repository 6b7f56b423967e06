// Runs a sound file through an LV2 plugin with the tonbrix library:
//   render_file INPUT OUTPUT PLUGIN-URI [SYMBOL=VALUE]...
// The output has the input's format; the plugin's controls not given keep
// their defaults.
#include <tonbrix/plugin.h>
#include <tonbrix/render.h>
#include <tonbrix/sound_file.h>
#include <tonbrix/world.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

// Shows the library's notes and warnings as they come.
class PrintEvents final : public tonbrix::EventSink {
public:
    void report(tonbrix::EventKind, std::string_view text) noexcept override
    {
        std::fwrite(text.data(), 1, text.size(), stderr);
    }
};

int fail(const tonbrix::Error& error)
{
    std::fputs(error.message.c_str(), stderr);
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fputs("usage: render_file INPUT OUTPUT PLUGIN-URI [SYMBOL=VALUE]...\n", stderr);
        return 2;
    }
    auto world = tonbrix::World::load();
    if (!world) {
        return fail(world.error());
    }
    auto input = tonbrix::open_sound_file(argv[1]);
    if (!input) {
        return fail(input.error());
    }

    PrintEvents events;
    tonbrix::RenderOptions options; // the default block size, on one thread
    tonbrix::PluginSettings plugin;
    plugin.uri = argv[3];
    plugin.channels = input->source->channels();
    plugin.sample_rate = input->format.sample_rate;
    plugin.block_size = options.block_size;
    plugin.events = &events;
    for (int i = 4; i < argc; ++i) {
        const std::string item = argv[i];
        const std::size_t equals = item.find('=');
        if (equals == std::string::npos) {
            return fail(tonbrix::Error{"Error: expected SYMBOL=VALUE, not " + item + ".\n"});
        }
        plugin.controls.emplace_back(item.substr(0, equals),
                                     std::strtof(item.c_str() + equals + 1, nullptr));
    }
    auto node = tonbrix::make_plugin_node(world.value(), plugin);
    if (!node) {
        return fail(node.error());
    }
    tonbrix::Graph graph;
    graph.add(std::move(node.value()));

    auto output = tonbrix::create_sound_file(argv[2], input->format);
    if (!output) {
        return fail(output.error());
    }
    tonbrix::RenderCallbacks callbacks;
    callbacks.events = &events;
    const tonbrix::RenderResult result =
        tonbrix::render(*input->source, graph, *output.value(), options, callbacks);
    if (result.error) {
        return fail(*result.error);
    }
    std::printf("%llu frames written\n", static_cast<unsigned long long>(result.frames_written));
    return result.status == tonbrix::RenderStatus::finished ? 0 : 1;
}
