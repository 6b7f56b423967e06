// --info --json against lilv's own lv2info for real Debian plugins: names,
// classes, authors, features, presets, and every port's symbol, name,
// type, range, properties and scale points must agree. lv2info shows no
// units and no parameters: those are checked against the plugins' data.
#include "support/e2e.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <map>
#include <optional>
#include <set>

using nlohmann::json;

namespace {

// What lv2info says about one port.
struct LilvPort {
    std::set<std::string> types;
    std::string symbol;
    std::string name;
    std::optional<double> minimum, maximum, default_value;
    std::set<std::string> properties;
    std::multiset<std::pair<double, std::string>> scale_points;
};

// What lv2info says about a plugin.
struct LilvInfo {
    std::map<std::string, std::string> fields; // "Name", "Class", "Author", ...
    std::set<std::string> required_features, optional_features;
    std::set<std::string> presets;
    std::vector<LilvPort> ports;
};

std::string trimmed(const std::string& text)
{
    const std::size_t first = text.find_first_not_of(" \t");
    const std::size_t last = text.find_last_not_of(" \t");
    return first == std::string::npos ? "" : text.substr(first, last - first + 1);
}

// Parses lv2info's text: "\tKey: value" lines with continuation lines
// indented past the key, and "\tPort N:" blocks of "\t\tKey: value".
LilvInfo parse_lv2info(const std::string& text)
{
    LilvInfo info;
    std::string key; // the key the continuation lines belong to
    LilvPort* port = nullptr;
    for (const std::string& line : lines_of(text)) {
        if (line.empty() || line[0] != '\t') {
            continue;
        }
        const bool in_port = line.size() > 1 && line[1] == '\t';
        const std::string body = trimmed(line);
        if (!in_port && body.rfind("Port ", 0) == 0) {
            info.ports.emplace_back();
            port = &info.ports.back();
            key.clear();
            continue;
        }
        const std::size_t colon = body.find(": ");
        const bool keyed = colon != std::string::npos && body.find(' ') > colon - 1 &&
                           body.substr(0, colon).find('"') == std::string::npos &&
                           line.find(body) <= 2;
        std::string value = body;
        if (body.back() == ':' && line.find(body) <= 2) {
            key = body.substr(0, body.size() - 1);
            value.clear();
        } else if (keyed || (line.find(body) <= 2 && colon != std::string::npos)) {
            key = body.substr(0, colon);
            value = trimmed(body.substr(colon + 1));
        }
        if (value.empty()) {
            continue;
        }
        if (port == nullptr) {
            if (key == "Required Features") {
                info.required_features.insert(value);
            } else if (key == "Optional Features") {
                info.optional_features.insert(value);
            } else if (key == "Presets") {
                info.presets.insert(value);
            } else {
                info.fields.emplace(key, value);
            }
        } else if (key == "Type") {
            port->types.insert(value);
        } else if (key == "Symbol") {
            port->symbol = value;
        } else if (key == "Name") {
            port->name = value;
        } else if (key == "Minimum") {
            port->minimum = std::strtod(value.c_str(), nullptr);
        } else if (key == "Maximum") {
            port->maximum = std::strtod(value.c_str(), nullptr);
        } else if (key == "Default") {
            port->default_value = std::strtod(value.c_str(), nullptr);
        } else if (key == "Properties") {
            port->properties.insert(value);
        } else if (key == "Scale Points") {
            const std::size_t equals = value.find(" = \"");
            port->scale_points.emplace(std::strtod(value.c_str(), nullptr),
                                       value.substr(equals + 4, value.size() - equals - 5));
        }
    }
    return info;
}

// lv2info prints numbers with six decimals.
void expect_close(const json& ours, const std::optional<double>& theirs, const std::string& what)
{
    if (!theirs) {
        EXPECT_TRUE(ours.is_null()) << what << ": " << ours;
        return;
    }
    ASSERT_TRUE(ours.is_number()) << what;
    EXPECT_NEAR(ours.get<double>(), *theirs, 5e-7 + 1e-7 * std::fabs(*theirs)) << what;
}

std::string type_uri(const std::string& type)
{
    static const std::map<std::string, std::string> uris = {
        {"audio", "http://lv2plug.in/ns/lv2core#AudioPort"},
        {"control", "http://lv2plug.in/ns/lv2core#ControlPort"},
        {"cv", "http://lv2plug.in/ns/lv2core#CVPort"},
        {"atom", "http://lv2plug.in/ns/ext/atom#AtomPort"},
    };
    return uris.at(type);
}

std::string property_uri(const std::string& name)
{
    static const std::map<std::string, std::string> uris = {
        {"integer", "http://lv2plug.in/ns/lv2core#integer"},
        {"toggled", "http://lv2plug.in/ns/lv2core#toggled"},
        {"enumeration", "http://lv2plug.in/ns/lv2core#enumeration"},
        {"logarithmic", "http://lv2plug.in/ns/ext/port-props#logarithmic"},
        {"sampleRate", "http://lv2plug.in/ns/lv2core#sampleRate"},
        {"notOnGUI", "http://lv2plug.in/ns/ext/port-props#notOnGUI"},
    };
    return uris.at(name);
}

} // namespace

class InfoAgainstLilv : public E2E {};

TEST_F(InfoAgainstLilv, RealPluginsMatchLv2info)
{
    struct Case {
        const char* what;
        const char* uri;
        std::map<std::string, std::string> units; // symbol: unit symbol
        // lv2info shows no ranges of CV ports: those the data declares.
        std::map<std::string, std::array<double, 3>> cv_ranges; // minimum, maximum, default
    };
    const Case cases[] = {
        {"scale points and units", "http://lv2plug.in/plugins/eg-amp", {{"gain", "dB"}}, {}},
        {"units and properties", "http://gareus.org/oss/lv2/fil4#mono",
         {{"gain", "dB"}, {"HPfreq", "Hz"}, {"peak", "dB"}}, {}},
        {"CV ports", "http://drobilla.net/plugins/fomp/mvclpf1",
         {{"fm", "oct"}, {"in_gain", "dB"}, {"freq", "Hz"}},
         {{"fm", {-1, 1, 0}}, {"exp_fm", {-1, 1, 0}}, {"res_mod", {-1, 1, 0}}}},
        {"patch parameters", "http://lv2plug.in/plugins/eg-params", {}, {}},
        {"presets", "http://drobilla.net/plugins/mda/Detune", {}, {}},
    };
    const std::vector<std::pair<std::string, std::string>> env = {
        {"LV2_PATH", "/usr/lib/lv2"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CommandSpec spec;
        spec.args = {c.uri};
        spec.env = env;
        const CommandResult lilv = run_command("lv2info", spec);
        ASSERT_EQ(lilv.status, 0) << lilv.err;
        const LilvInfo theirs = parse_lv2info(lilv.out);
        const CommandResult r = tonbrix({"--info", c.uri, "--json"}, "", env);
        ASSERT_EQ(r.status, 0) << r.err;
        const json ours = json::parse(r.out);

        EXPECT_EQ(ours["name"], theirs.fields.at("Name"));
        EXPECT_EQ(ours["class"]["label"], theirs.fields.at("Class"));
        for (const auto& [field, key] : {std::pair{"name", "Author"}, std::pair{"email", "Author Email"},
                                         std::pair{"homepage", "Author Homepage"}}) {
            const auto found = theirs.fields.find(key);
            EXPECT_EQ(ours["author"][field],
                      found == theirs.fields.end() ? json(nullptr) : json(found->second))
                << key;
        }
        std::set<std::string> required, optional;
        for (const json& feature : ours["features"]) {
            (feature["required"].get<bool>() ? required : optional).insert(feature["uri"]);
        }
        EXPECT_EQ(required, theirs.required_features);
        EXPECT_EQ(optional, theirs.optional_features);
        EXPECT_EQ(ours["preset_count"], theirs.presets.size());

        ASSERT_EQ(ours["ports"].size(), theirs.ports.size());
        for (std::size_t i = 0; i < theirs.ports.size(); ++i) {
            const LilvPort& lp = theirs.ports[i];
            const json& port = ours["ports"][i];
            const std::string what = lp.symbol;
            EXPECT_EQ(port["symbol"], lp.symbol);
            EXPECT_EQ(port["name"], lp.name) << what;
            EXPECT_TRUE(lp.types.count(type_uri(port["type"]))) << what;
            const std::string direction = port["direction"];
            EXPECT_TRUE(lp.types.count(direction == "input"
                                           ? "http://lv2plug.in/ns/lv2core#InputPort"
                                           : "http://lv2plug.in/ns/lv2core#OutputPort"))
                << what;
            if (port["type"] != "control" && port["type"] != "cv") {
                continue;
            }
            if (port["type"] == "cv") {
                const std::array<double, 3> range = c.cv_ranges.at(lp.symbol);
                EXPECT_EQ(port["minimum"], range[0]) << what;
                EXPECT_EQ(port["maximum"], range[1]) << what;
                EXPECT_EQ(port["default"], range[2]) << what;
            } else {
                expect_close(port["minimum"], lp.minimum, what + " minimum");
                expect_close(port["maximum"], lp.maximum, what + " maximum");
                expect_close(port["default"], lp.default_value, what + " default");
            }
            std::set<std::string> known;
            for (const json& name : port["properties"]) {
                known.insert(property_uri(name));
            }
            std::set<std::string> theirs_known;
            for (const std::string& uri : lp.properties) {
                for (const char* name : {"integer", "toggled", "enumeration", "logarithmic",
                                         "sampleRate", "notOnGUI"}) {
                    if (uri == property_uri(name)) {
                        theirs_known.insert(uri);
                    }
                }
            }
            EXPECT_EQ(known, theirs_known) << what;
            std::multiset<std::pair<double, std::string>> points;
            for (const json& point : port["scale_points"]) {
                points.emplace(point["value"].get<double>(), point["label"].get<std::string>());
            }
            EXPECT_EQ(points, lp.scale_points) << what;
            const auto unit = c.units.find(lp.symbol);
            if (unit != c.units.end()) {
                EXPECT_EQ(port["unit"]["symbol"], unit->second) << what;
            }
        }
    }
}

TEST_F(InfoAgainstLilv, ParametersAsThePluginDataDeclaresThem)
{
    // eg-params: eight writable parameters; lfo is only readable.
    const CommandResult r = tonbrix({"-I", "http://lv2plug.in/plugins/eg-params", "--json"}, "",
                                    {{"LV2_PATH", "/usr/lib/lv2"}});
    ASSERT_EQ(r.status, 0) << r.err;
    const json doc = json::parse(r.out);
    std::map<std::string, std::string> types;
    for (const json& parameter : doc["parameters"]) {
        types[parameter["short_name"]] = parameter["type"];
    }
    const std::string atom = "http://lv2plug.in/ns/ext/atom#";
    EXPECT_EQ(types, (std::map<std::string, std::string>{
                         {"int", atom + "Int"},       {"long", atom + "Long"},
                         {"float", atom + "Float"},   {"double", atom + "Double"},
                         {"bool", atom + "Bool"},     {"string", atom + "String"},
                         {"path", atom + "Path"},     {"spring", atom + "Float"}}));
}
