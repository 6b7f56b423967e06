#include "batch/job_list.h"

#include <nlohmann/json.hpp>

namespace tonbrix {

namespace {

// Members keep the order they were written in.
using Json = nlohmann::ordered_json;

std::string line_error(std::size_t line_number, std::string_view what)
{
    return "Error: job list line " + std::to_string(line_number) + ": " + std::string(what) +
           "\n";
}

// A value as the command line would carry it: a number in JSON's own
// shortest form, a string as it stands; false for any other kind.
bool value_text(const Json& value, std::string& text)
{
    if (value.is_number()) {
        text = value.dump();
        return true;
    }
    if (value.is_string()) {
        text = value.get<std::string>();
        return true;
    }
    if (value.is_boolean()) {
        text = value.get<bool>() ? "true" : "false";
        return true;
    }
    return false;
}

// The members of a JSON object as "KEY<separator>VALUE" items, in the
// object's order; the message of the first member that cannot be one.
std::string read_items(const Json& object, std::string_view key, char separator, bool numbers_only,
                       std::vector<std::string>& items)
{
    if (!object.is_object()) {
        return "\"" + std::string(key) + "\" must be an object";
    }
    for (const auto& [name, value] : object.items()) {
        std::string text;
        if ((numbers_only && !value.is_number()) || !value_text(value, text)) {
            return "the value of \"" + name + "\" in \"" + std::string(key) + "\" must be a " +
                   (numbers_only ? "number" : "number or a string");
        }
        if (name.empty() || name.find(separator) != std::string::npos ||
            (separator == ':' && name.find(',') != std::string::npos)) {
            return "\"" + name + "\" in \"" + std::string(key) + "\" is not a name";
        }
        if (separator == ':' && text.find(',') != std::string::npos) {
            return "the value of \"" + name + "\" in \"" + std::string(key) +
                   "\" must be a number";
        }
        items.push_back(name + separator + text);
    }
    return {};
}

// The message of a JSON job that cannot be run; empty when it can.
std::string read_json_job(const Json& object, Job& job)
{
    if (!object.is_object()) {
        return "expected a JSON object";
    }
    for (const auto& [key, value] : object.items()) {
        std::string error;
        if (key == "input" || key == "output" || key == "preset") {
            if (!value.is_string() || value.get<std::string>().empty()) {
                return "\"" + key + "\" must be a non-empty string";
            }
            if (key == "input") {
                job.input = value.get<std::string>();
            } else if (key == "output") {
                job.output = value.get<std::string>();
            } else {
                job.has_preset = true;
                job.preset = value.get<std::string>();
            }
        } else if (key == "parameters") {
            error = read_items(value, key, ':', true, job.parameters);
        } else if (key == "set") {
            error = read_items(value, key, '=', false, job.set_values);
        } else {
            return "unknown key \"" + key +
                   "\" (known: input, output, parameters, preset, set)";
        }
        if (!error.empty()) {
            return error;
        }
    }
    if (job.input.empty() || job.output.empty()) {
        return "a job needs both \"input\" and \"output\"";
    }
    return {};
}

} // namespace

JobLine parse_job_line(std::string_view text, std::size_t line_number, Job& job)
{
    job = Job{};
    job.line = line_number;
    if (!text.empty() && text.back() == '\r') {
        text.remove_suffix(1);
    }
    const std::size_t start = text.find_first_not_of(" \t");
    if (start == std::string_view::npos || text[start] == '#') {
        return JobLine::skipped;
    }
    std::string error;
    if (text[start] == '{') {
        const Json object = Json::parse(text.begin(), text.end(), nullptr, false);
        error = object.is_discarded() ? "not valid JSON" : read_json_job(object, job);
    } else {
        const std::size_t tab = text.find('\t');
        if (tab == std::string_view::npos || tab == 0 || tab + 1 == text.size() ||
            text.find('\t', tab + 1) != std::string_view::npos) {
            error = "expected INPUT<TAB>OUTPUT or a JSON object";
        } else {
            job.input = std::string(text.substr(0, tab));
            job.output = std::string(text.substr(tab + 1));
        }
    }
    if (error.empty() && (job.input == "-" || job.output == "-")) {
        error = "\"-\" (standard input or output) cannot be a job's file";
    }
    if (!error.empty()) {
        job.error = line_error(line_number, error);
        return JobLine::unreadable;
    }
    return JobLine::job;
}

std::vector<Job> parse_job_list(std::string_view text)
{
    std::vector<Job> jobs;
    std::size_t number = 0;
    while (!text.empty()) {
        ++number;
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        Job job;
        if (parse_job_line(line, number, job) != JobLine::skipped) {
            jobs.push_back(std::move(job));
        }
    }
    return jobs;
}

} // namespace tonbrix
