// The progress line: only on a terminal, redrawn in place at most ten times
// a second, cleared before other messages, ended with a newline.
#include "support/e2e.h"
#include "support/messages.h"

#include <chrono>
#include <regex>

namespace {

constexpr int rate = 8000;
// Ten reads of 8192 frames at the block size of 8192; the slow plugin
// sleeps 50 ms in each, so the run takes half a second at least.
constexpr long frames = 10 * 8192;
const std::vector<std::string> slow_options = {"-b", "8192", "-p", "delay:50"};

struct TerminalRun {
    CommandResult result;
    double seconds = 0.0;
};

// Runs `program` with standard error on a pseudo-terminal.
TerminalRun run_on_terminal(const std::string& program, const std::vector<std::string>& args)
{
    CommandSpec spec;
    spec.args = args;
    spec.env = {{"LV2_PATH", test_lv2_dir()}};
    spec.stderr_on_terminal = true;
    const auto start = std::chrono::steady_clock::now();
    TerminalRun run{run_command(program, spec), 0.0};
    run.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return run;
}

// The drawings of the line: what each "\r" starts, without the erase to the
// end of the line that follows it.
std::vector<std::string> drawings(const std::string& terminal)
{
    std::vector<std::string> lines;
    const std::string erase = "\033[K";
    std::size_t at = terminal.find('\r');
    while (at != std::string::npos) {
        const std::size_t next = terminal.find('\r', at + 1);
        std::string line = terminal.substr(at + 1, next == std::string::npos ? next : next - at - 1);
        if (line.size() >= erase.size() && line.compare(line.size() - erase.size(), erase.size(), erase) == 0) {
            line.resize(line.size() - erase.size());
        } else if (!line.empty() && line.back() == '\n') {
            line.pop_back();
            if (line.size() >= erase.size() &&
                line.compare(line.size() - erase.size(), erase.size(), erase) == 0) {
                line.resize(line.size() - erase.size());
            }
        }
        lines.push_back(line);
        at = next;
    }
    return lines;
}

} // namespace

class Progress : public E2E {
protected:
    std::string slow_input()
    {
        const std::string input = path("in.wav");
        write_sound(input, make_sound(1, frames, rate, wav_float,
                                      [](long f, int) { return static_cast<float>(f % 100) / 200.0f; }));
        return input;
    }
};

TEST_F(Progress, OnATerminalOneLineIsRedrawnAndEndedWithANewline)
{
    std::vector<std::string> args = {"-i", slow_input(), "-o", path("out.wav")};
    args.insert(args.end(), slow_options.begin(), slow_options.end());
    args.push_back(test_plugin("slow"));
    const TerminalRun run = run_on_terminal(tonbrix_binary(), args);
    ASSERT_EQ(run.result.status, 0) << run.result.err;
    EXPECT_EQ(run.result.out, one_instance_notes);

    const std::string& terminal = run.result.err;
    ASSERT_FALSE(terminal.empty());
    EXPECT_EQ(terminal.front(), '\r');
    EXPECT_EQ(terminal.back(), '\n');
    EXPECT_EQ(terminal.find('\n'), terminal.size() - 1) << "one line only";

    const std::vector<std::string> lines = drawings(terminal);
    // Half a second of work: redrawn at least once before the final drawing
    // (how often depends on the machine's load), and never more than ten
    // times a second (plus the final drawing).
    EXPECT_GE(lines.size(), 2u) << terminal;
    EXPECT_LE(static_cast<double>(lines.size()), run.seconds * 10.0 + 1.0) << terminal;
    const std::regex form(
        R"(( {0,2}\d{1,3}\.\d)%  0:00:\d\d of 0:00:10  \d+\.\dx real time  0:00:\d\d left)");
    double last_percent = 0.0;
    for (const std::string& line : lines) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, form)) << line;
        const double percent = std::stod(match[1]);
        EXPECT_GE(percent, last_percent) << line;
        last_percent = percent;
    }
    EXPECT_EQ(lines.back().substr(0, 28), "100.0%  0:00:10 of 0:00:10  ") << lines.back();
    EXPECT_NE(lines.back().find("  0:00:00 left"), std::string::npos) << lines.back();
    EXPECT_EQ(read_sound(path("out.wav")).samples, read_sound(path("in.wav")).samples);
}

TEST_F(Progress, WithoutATerminalOrWhenQuietNothingIsShown)
{
    std::vector<std::string> args = {"-i", slow_input(), "-o", path("out.wav")};
    args.insert(args.end(), slow_options.begin(), slow_options.end());
    args.push_back(test_plugin("slow"));
    const CommandResult piped = tonbrix(args);
    EXPECT_EQ(piped.status, 0);
    EXPECT_EQ(piped.out, one_instance_notes);
    EXPECT_EQ(piped.err, "");

    args.insert(args.begin(), "--quiet");
    const TerminalRun quiet = run_on_terminal(tonbrix_binary(), args);
    EXPECT_EQ(quiet.result.status, 0);
    EXPECT_EQ(quiet.result.err, "");
}

TEST_F(Progress, RawInputFromAPipeShowsTimeProcessedWithoutPercentOrTimeLeft)
{
    const std::string raw = path("in.raw");
    {
        std::vector<float> samples(static_cast<std::size_t>(frames), 0.25f);
        FILE* file = std::fopen(raw.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        const std::string bytes = to_raw_bytes(samples);
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
    }
    const std::string command = "cat '" + raw + "' | '" + tonbrix_binary() + "' -r 8000 -n 1 -i - -o '" +
                                path("out.raw") + "' -b 8192 -p delay:50 " + test_plugin("slow");
    const TerminalRun run = run_on_terminal("sh", {"-c", command});
    ASSERT_EQ(run.result.status, 0) << run.result.err;
    const std::vector<std::string> lines = drawings(run.result.err);
    ASSERT_GE(lines.size(), 2u) << run.result.err;
    const std::regex form(R"(0:00:\d\d processed  \d+\.\dx real time)");
    for (const std::string& line : lines) {
        EXPECT_TRUE(std::regex_match(line, form)) << line;
    }
    EXPECT_EQ(lines.back().substr(0, 18), "0:00:10 processed ");
    EXPECT_EQ(run.result.err.back(), '\n');
}

TEST_F(Progress, TheLineIsClearedBeforeTheClippingWarning)
{
    // The last read clips; the line is on the terminal by then. With the
    // audio on standard output, the warning goes to standard error too.
    std::vector<float> samples(static_cast<std::size_t>(frames), 0.25f);
    samples.back() = 2.0f;
    const std::string command = "'" + tonbrix_binary() + "' -r 8000 -n 1 -i - -o - -b 8192 -p delay:50 " +
                                test_plugin("slow") + " < '" + path("in.raw") + "' > '" +
                                path("out.raw") + "'";
    {
        FILE* file = std::fopen(path("in.raw").c_str(), "wb");
        ASSERT_NE(file, nullptr);
        const std::string bytes = to_raw_bytes(samples);
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
    }
    const TerminalRun run = run_on_terminal("sh", {"-c", command});
    ASSERT_EQ(run.result.status, 0) << run.result.err;
    const std::string& terminal = run.result.err;
    const std::size_t warning = terminal.find(clipping_warning);
    ASSERT_NE(warning, std::string::npos) << terminal;
    // The notes come before the first drawing; the line is then drawn,
    // cleared for the warning, and drawn again to its end.
    ASSERT_GE(warning, 4u);
    EXPECT_EQ(terminal.substr(warning - 4, 4), "\r\033[K") << terminal;
    EXPECT_EQ(terminal.rfind('\r', warning - 5) == std::string::npos, false) << terminal;
    const std::string after = terminal.substr(warning + clipping_warning.size());
    ASSERT_FALSE(after.empty());
    EXPECT_EQ(after.front(), '\r');
    EXPECT_EQ(after.back(), '\n');
    EXPECT_EQ(after.find('\n'), after.size() - 1);
}

TEST_F(Progress, WorkerTraceLinesNeverShareALineWithIt)
{
    // Sixty thousand runs with a trace line each, on the terminal (the audio
    // goes to standard output): long enough for drawings between traces.
    const std::vector<float> samples(2000000, 0.25f);
    {
        FILE* file = std::fopen(path("in.raw").c_str(), "wb");
        ASSERT_NE(file, nullptr);
        const std::string bytes = to_raw_bytes(samples);
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
    }
    const std::string command = "'" + tonbrix_binary() + "' -r 8000 -n 1 -i '" + path("in.raw") +
                                "' -o - -b 32 " + test_plugin("worker") + " > /dev/null";
    const TerminalRun run = run_on_terminal("sh", {"-c", command});
    ASSERT_EQ(run.result.status, 0);
    const std::string& terminal = run.result.err;
    ASSERT_GE(drawings(terminal).size(), 2u) << "no drawing between the traces";
    // Every trace starts its line, or follows the clearing of the line.
    const std::string trace = "lv2_worker_schedule..\n";
    const std::string clear = "\r\033[K";
    std::size_t traces = 0;
    for (std::size_t at = terminal.find(trace); at != std::string::npos;
         at = terminal.find(trace, at + trace.size())) {
        ++traces;
        const bool line_start = at == 0 || terminal[at - 1] == '\n';
        const bool cleared = at >= clear.size() && terminal.compare(at - clear.size(), clear.size(), clear) == 0;
        ASSERT_TRUE(line_start || cleared) << terminal.substr(at < 80 ? 0 : at - 80, 100);
    }
    EXPECT_EQ(traces, samples.size() / 32);
}
