// --info and --json: one plugin described for people and for scripts, and
// the listings as JSON documents; checked with the test plugin "annotated",
// whose data uses every fact the description shows.
#include "support/e2e.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <optional>
#include <tuple>
#include <utility>
#include <vector>

using nlohmann::json;

namespace {

const std::string annotated_text = R"(Name: Annotated
URI: http://tonbrix.test/plugins/annotated
Class: Plugin
Project: Tonbrix Test Plugins
Author: Test Maker <maker@tonbrix.test>, http://tonbrix.test/
Instrument: yes
Ports:
  0 gain: Gain
    control input, default 0.1, minimum -90, maximum 24, unit dB
  1 mode: Mode
    control input, default 1, minimum 0, maximum 2
    properties: integer, enumeration
    scale points:
      0 = Off
      1 = Soft
      2 = Hard
  2 bypass: Bypass
    control input, default 0, minimum 0, maximum 1
    properties: toggled, notOnGUI
  3 cutoff: Cutoff
    control input, default 0.25, minimum 0.001, maximum 0.5, unit Hz
    properties: logarithmic, sampleRate
  4 depth: Depth
    CV input, default 0.5, minimum 0, maximum 1, unit %
  5 turns: Turns
    control input, default 3, unit rev
  6 distance: Distance
    control input, unit http://tonbrix.test/units#furlong
  7 midi_in: MIDI In
    atom input (MIDI, time position)
  8 control: Control
    atom input (patch messages)
  9 latency: Latency
    control output
    properties: integer
  10 level: Level
    control output, unit dB
  11 out: Output
    audio output
Latency port: latency
Parameters:
  sample: Sample (atom:Path)
  volume: Volume (atom:Float), default 0.7, minimum -0.1, maximum 2
Presets: 2
Features:
  urid:map (required)
  http://tonbrix.test/ns#unoffered (required, not provided)
  lv2:hardRTCapable (optional)
  http://tonbrix.test/ns#nice (optional, not provided)
)";

// The JSON document on standard output of a run that must succeed quietly.
json document_of(const CommandResult& r)
{
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    return json::parse(r.out);
}

std::optional<double> number_or_none(const json& value)
{
    return value.is_null() ? std::nullopt : std::optional<double>(value.get<double>());
}

} // namespace

class Info : public E2E {};

TEST_F(Info, TextShowsEveryFactByUriOrListNumber)
{
    const CommandResult by_uri = tonbrix({"--info", test_plugin("annotated")});
    EXPECT_EQ(by_uri.status, 0);
    EXPECT_EQ(by_uri.out, annotated_text);
    EXPECT_EQ(by_uri.err, "");

    const json list = document_of(tonbrix({"-l", "--json"}));
    std::string number;
    for (const json& plugin : list["plugins"]) {
        if (plugin["uri"] == test_plugin("annotated")) {
            number = std::to_string(plugin["number"].get<int>());
        }
    }
    ASSERT_FALSE(number.empty());
    const CommandResult by_number = tonbrix({"-I", number});
    EXPECT_EQ(by_number.status, 0);
    EXPECT_EQ(by_number.out, annotated_text);
}

TEST_F(Info, JsonHoldsEveryPortFactWithExactNumbers)
{
    const CommandResult r = tonbrix({"-I", test_plugin("annotated"), "--json"});
    const json doc = document_of(r);
    // Floats read back exactly and are written as the data has them.
    EXPECT_NE(r.out.find("\"default\": 0.1,"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"minimum\": 0.001,"), std::string::npos) << r.out;

    struct Port {
        const char* symbol;
        const char* direction;
        const char* type;
        std::optional<double> default_value, minimum, maximum;
        const char* unit; // symbol; null for none
        std::vector<std::string> properties;
    };
    const std::optional<double> none;
    const Port ports[] = {
        {"gain", "input", "control", 0.1, -90, 24, "dB", {}},
        {"mode", "input", "control", 1, 0, 2, nullptr, {"integer", "enumeration"}},
        {"bypass", "input", "control", 0, 0, 1, nullptr, {"toggled", "notOnGUI"}},
        {"cutoff", "input", "control", 0.25, 0.001, 0.5, "Hz", {"logarithmic", "sampleRate"}},
        {"depth", "input", "cv", 0.5, 0, 1, "%", {}},
        {"turns", "input", "control", 3, none, none, "rev", {}},
        {"distance", "input", "control", none, none, none, nullptr, {}},
        {"midi_in", "input", "atom", none, none, none, nullptr, {}},
        {"control", "input", "atom", none, none, none, nullptr, {}},
        {"latency", "output", "control", none, none, none, nullptr, {"integer"}},
        {"level", "output", "control", none, none, none, "dB", {}},
        {"out", "output", "audio", none, none, none, nullptr, {}},
    };
    ASSERT_EQ(doc["ports"].size(), std::size(ports));
    for (std::size_t i = 0; i < std::size(ports); ++i) {
        const Port& p = ports[i];
        const json& port = doc["ports"][i];
        EXPECT_EQ(port["index"], i);
        EXPECT_EQ(port["symbol"], p.symbol);
        EXPECT_EQ(port["direction"], p.direction) << p.symbol;
        EXPECT_EQ(port["type"], p.type) << p.symbol;
        if (port["type"] != "control" && port["type"] != "cv") {
            EXPECT_FALSE(port.contains("default")) << p.symbol;
            continue;
        }
        EXPECT_EQ(number_or_none(port["default"]), p.default_value) << p.symbol;
        EXPECT_EQ(number_or_none(port["minimum"]), p.minimum) << p.symbol;
        EXPECT_EQ(number_or_none(port["maximum"]), p.maximum) << p.symbol;
        if (p.unit != nullptr) {
            EXPECT_EQ(port["unit"]["symbol"], p.unit) << p.symbol;
        }
        EXPECT_EQ(port["properties"].get<std::vector<std::string>>(), p.properties) << p.symbol;
    }
    EXPECT_EQ(doc["ports"][0]["unit"]["uri"], "http://lv2plug.in/ns/extensions/units#db");
    EXPECT_EQ(doc["ports"][5]["unit"]["uri"], nullptr); // defined in place
    EXPECT_EQ(doc["ports"][6]["unit"],
              json({{"uri", "http://tonbrix.test/units#furlong"}, {"symbol", nullptr}}));
    EXPECT_EQ(doc["ports"][1]["scale_points"],
              json::parse(R"([{"value": 0, "label": "Off"}, {"value": 1, "label": "Soft"},
                              {"value": 2, "label": "Hard"}])"));
    EXPECT_EQ(doc["ports"][7]["buffer_type"], "http://lv2plug.in/ns/ext/atom#Sequence");
    for (const auto& [index, midi, patch, time] :
         {std::tuple{7, true, false, true}, std::tuple{8, false, true, false}}) {
        EXPECT_EQ(doc["ports"][index]["midi"], midi) << index;
        EXPECT_EQ(doc["ports"][index]["patch"], patch) << index;
        EXPECT_EQ(doc["ports"][index]["time_position"], time) << index;
    }
    EXPECT_EQ(doc["ports"][8]["designation"], "http://lv2plug.in/ns/lv2core#control");
}

TEST_F(Info, JsonHoldsThePluginsOtherFacts)
{
    const json doc = document_of(tonbrix({"--info=" + test_plugin("annotated"), "--json"}));
    EXPECT_EQ(doc["uri"], test_plugin("annotated"));
    EXPECT_EQ(doc["name"], "Annotated");
    EXPECT_EQ(doc["project"], "Tonbrix Test Plugins");
    EXPECT_EQ(doc["author"], json::parse(R"({"name": "Test Maker",
        "email": "mailto:maker@tonbrix.test", "homepage": "http://tonbrix.test/"})"));
    EXPECT_EQ(doc["instrument"], true);
    EXPECT_EQ(doc["latency_port"], json::parse(R"({"index": 9, "symbol": "latency"})"));
    EXPECT_EQ(doc["parameters"], json::parse(R"([
        {"uri": "http://tonbrix.test/plugins/annotated#sample", "short_name": "sample",
         "label": "Sample", "type": "http://lv2plug.in/ns/ext/atom#Path",
         "default": null, "minimum": null, "maximum": null},
        {"uri": "http://tonbrix.test/plugins/annotated#volume", "short_name": "volume",
         "label": "Volume", "type": "http://lv2plug.in/ns/ext/atom#Float",
         "default": 0.7, "minimum": -0.1, "maximum": 2}])"));
    EXPECT_EQ(doc["preset_count"], 2);
    EXPECT_EQ(doc["features"], json::parse(R"([
        {"uri": "http://lv2plug.in/ns/ext/urid#map", "required": true, "provided": true},
        {"uri": "http://tonbrix.test/ns#unoffered", "required": true, "provided": false},
        {"uri": "http://lv2plug.in/ns/lv2core#hardRTCapable", "required": false, "provided": true},
        {"uri": "http://tonbrix.test/ns#nice", "required": false, "provided": false}])"));

    // Audio inputs make a plugin with MIDI input no instrument; no latency
    // port, no parameters, no features.
    const json mixed = document_of(tonbrix({"-I", test_plugin("mixed"), "--json"}));
    EXPECT_EQ(mixed["instrument"], false);
    EXPECT_EQ(mixed["latency_port"], nullptr);
    EXPECT_EQ(mixed["parameters"], json::array());
    EXPECT_EQ(mixed["features"], json::array());
    EXPECT_EQ(mixed["project"], nullptr);
}

TEST_F(Info, UnknownPluginGetsTheNameportsError)
{
    struct Case {
        std::vector<std::string> args;
        std::string plugin; // as --nameports is given it
    };
    const Case cases[] = {
        {{"-I", "http://tonbrix.test/plugins/none"}, "http://tonbrix.test/plugins/none"},
        {{"--info=http://tonbrix.test/plugins/none", "--json"}, "http://tonbrix.test/plugins/none"},
        {{"-I", "9999"}, "9999"},
        {{"-I", "not a uri"}, "not a uri"},
    };
    for (const Case& c : cases) {
        const CommandResult info = tonbrix(c.args);
        const CommandResult nameports = tonbrix({"-n", c.plugin});
        EXPECT_EQ(info.status, 1) << c.plugin;
        EXPECT_EQ(info.out, "") << c.plugin;
        EXPECT_EQ(info.err, "No such plugin " + c.plugin + "\n");
        EXPECT_EQ(info.err, nameports.err);
    }
}

class JsonListings : public E2E {};

TEST_F(JsonListings, HoldWhatTheTextHoldsAndEndWithZero)
{
    // --list: the numbers and URIs of the text, in its order.
    const CommandResult list_text = tonbrix({"-l"});
    EXPECT_EQ(list_text.status, 1);
    const json list = document_of(tonbrix({"--list", "--json"}));
    std::string rebuilt;
    for (const json& plugin : list["plugins"]) {
        rebuilt += std::to_string(plugin["number"].get<int>()) + "\t" +
                   plugin["uri"].get<std::string>() + "\n";
    }
    EXPECT_EQ(rebuilt, list_text.out);

    // --nameports: audio inputs, control and CV inputs, parameters.
    const json mixed = document_of(tonbrix({"-n", test_plugin("mixed"), "--json"}));
    EXPECT_EQ(mixed, json::parse(R"({"uri": "http://tonbrix.test/plugins/mixed",
        "audio_inputs": [{"index": 2, "symbol": "in", "name": "Input", "type": "audio"},
                         {"index": 5, "symbol": "side", "name": "Side", "type": "audio"}],
        "control_inputs": [{"index": 1, "symbol": "gain", "name": "Gain", "type": "control"},
                           {"index": 4, "symbol": "bias", "name": "Bias", "type": "control"}],
        "parameters": []})"));
    const json annotated = document_of(tonbrix({"--json", "--nameports", test_plugin("annotated")}));
    std::vector<std::string> controls;
    for (const json& port : annotated["control_inputs"]) {
        controls.push_back(port["symbol"].get<std::string>() + ":" + port["type"].get<std::string>());
    }
    EXPECT_EQ(controls, (std::vector<std::string>{"gain:control", "mode:control", "bypass:control",
                                                  "cutoff:control", "depth:cv", "turns:control",
                                                  "distance:control"}));
    EXPECT_EQ(annotated["parameters"][1], json::parse(R"({"uri":
        "http://tonbrix.test/plugins/annotated#volume", "short_name": "volume", "label": "Volume"})"));

    // --list-presets: the labels of the text, with the presets' URIs.
    const CommandResult presets_text = tonbrix({"-L", test_plugin("presets")});
    const json presets = document_of(tonbrix({"-L", test_plugin("presets"), "--json"}));
    std::string labels;
    for (const json& preset : presets["presets"]) {
        labels += "Preset: " + preset["label"].get<std::string>() + "\n";
        EXPECT_EQ(preset["uri"].get<std::string>().rfind(test_plugin("presets") + "#", 0), 0u);
    }
    EXPECT_EQ(labels, presets_text.out);
    EXPECT_EQ(presets["uri"], test_plugin("presets"));

    const json none = document_of(tonbrix({"-L", test_plugin("mixed"), "--json"}));
    EXPECT_EQ(none["presets"], json::array());
}

TEST_F(JsonListings, PluginListTellsNameClassAndInstrument)
{
    // Each entry holds what --info --json says of the plugin.
    const json list = document_of(tonbrix({"--list", "--json"}));
    int found = 0;
    for (const json& entry : list["plugins"]) {
        const std::string uri = entry["uri"];
        for (const char* name : {"annotated", "mixed", "described", "presets"}) {
            if (uri != test_plugin(name)) {
                continue;
            }
            ++found;
            const json info = document_of(tonbrix({"--info", uri, "--json"}));
            EXPECT_EQ(entry["name"], info["name"]) << uri;
            EXPECT_EQ(entry["class"], info["class"]) << uri;
            EXPECT_EQ(entry["instrument"], info["instrument"]) << uri;
        }
    }
    EXPECT_EQ(found, 4);
    // The fields in the documented order.
    std::vector<std::string> keys;
    const nlohmann::ordered_json ordered =
        nlohmann::ordered_json::parse(tonbrix({"--list", "--json"}).out);
    for (const auto& item : ordered["plugins"][0].items()) {
        keys.push_back(item.key());
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"number", "uri", "name", "class", "instrument"}));
    const auto entry_of = [&](const std::string& uri) {
        for (const json& entry : list["plugins"]) {
            if (entry["uri"] == uri) {
                return entry;
            }
        }
        return json();
    };
    EXPECT_EQ(entry_of(test_plugin("annotated"))["instrument"], true);
    EXPECT_EQ(entry_of(test_plugin("annotated"))["name"], "Annotated");
    EXPECT_EQ(entry_of(test_plugin("mixed"))["instrument"], false);
}

TEST_F(JsonListings, PresetsInOneOrderWhereverTheBundlesLie)
{
    // lilv gives presets in the order of its nodes' addresses, which moved
    // with the bundles' paths and the command line: the text and the JSON
    // listing differed in some folders. Now both list by label, then by URI,
    // in every layout.
    namespace fs = std::filesystem;
    const fs::path deep = fs::path(path("a-rather-long-folder-name")) / "lv2" / "bundles";
    const fs::path alone = path("alone");
    const fs::path rest = path("rest");
    for (const fs::path& folder : {deep, alone, rest}) {
        fs::create_directories(folder);
    }
    for (const fs::directory_entry& bundle : fs::directory_iterator(test_lv2_dir())) {
        const std::string name = bundle.path().filename().string();
        fs::copy(bundle.path(), deep / name, fs::copy_options::recursive);
        fs::copy(bundle.path(), (name == "presets.lv2" ? alone : rest) / name,
                 fs::copy_options::recursive);
    }
    const std::vector<std::string> layouts = {
        test_lv2_dir(),
        deep.string(),
        alone.string() + ":" + rest.string(),
        rest.string() + ":" + alone.string(),
    };
    const std::string uri = test_plugin("presets");
    const std::vector<std::string> order = {"alpha", "beta",  "outputs", "twolabels",
                                            "strings", "twin1", "twin2", "unknown"};
    const std::string text = "Preset: Alpha\nPreset: Beta\nPreset: Outputs\nPreset: Second\n"
                             "Preset: Strings\nPreset: Twin\nPreset: Twin\nPreset: Unknown\n";
    for (const std::string& layout : layouts) {
        const std::vector<std::pair<std::string, std::string>> env = {{"LV2_PATH", layout}};
        for (const char* option : {"-L", "--list-presets"}) {
            const CommandResult r = tonbrix({option, uri}, "", env);
            EXPECT_EQ(r.status, 0) << layout;
            EXPECT_EQ(r.out, text) << layout << " " << option;
        }
        const json listed = document_of(tonbrix({"-L", uri, "--json"}, "", env));
        std::vector<std::string> uris;
        for (const json& preset : listed["presets"]) {
            uris.push_back(preset["uri"]);
        }
        std::vector<std::string> want;
        for (const std::string& name : order) {
            want.push_back(uri + "#" + name);
        }
        EXPECT_EQ(uris, want) << layout;
    }
}

TEST_F(JsonListings, UnknownPluginPrintsNoDocument)
{
    for (const char* flag : {"-n", "-L"}) {
        const CommandResult r = tonbrix({flag, "http://tonbrix.test/plugins/none", "--json"});
        EXPECT_EQ(r.status, 1) << flag;
        EXPECT_EQ(r.out, "") << flag;
        EXPECT_EQ(r.err, "No such plugin http://tonbrix.test/plugins/none\n") << flag;
    }
}
