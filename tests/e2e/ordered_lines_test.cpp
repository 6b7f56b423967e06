// The lines that plugins' threads raise while a run goes on (the worker's
// trace, log lines) and the warnings of the blocks (latency, clipping, NaN)
// come out on both streams, with the output file, exactly as a run of one
// block at a time on one thread gives them, at every job count and block size.
//
// The expected streams are recorded in golden/ordered/ from such a run:
// with TONBRIX_RECORD_ORDERED naming a tonbrix binary that runs one block
// at a time on one thread when it prints notes and a plugin has a worker
// (as tonbrix did before its chunks kept the plugins' lines), each case
// runs that binary with -j 1 and writes its files instead of comparing.
// Quiet runs are held to the same lines without the notes and the trace
// (that binary ran them in larger chunks).
#include "support/e2e.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

namespace {

// Frames of the input: more than two chunks of every block size.
constexpr long input_frames = 70000;
// A burst beyond full scale in the middle of the input, in the second chunk.
constexpr long burst = 40000;

const std::string lsp = "http://lsp-plug.in/plugins/lv2/";

struct Case {
    const char* name;
    // Before the plugins; -i, -o and their formats come from `raw`.
    std::vector<std::string> options;
    std::vector<std::string> plugins;
    // Raw floats from a file to standard output: the notes, warnings and
    // plugin lines then share standard error.
    bool raw = false;
    bool system = false; // loads the installed plugins too
    // The output's bytes depend on the machine's vector unit (LSP): they are
    // compared among the runs of the case, not with the recorded ones.
    bool own_output = false;
};

const Case cases[] = {
    // Two instances on two channels: trace lines, and clipping in block 2.
    {"worker", {}, {test_plugin("worker")}},
    // Log lines from run and from the work, on standard error; clipping
    // at the burst.
    {"logworker", {}, {test_plugin("logworker")}},
    // A chain: the second reports an invalid latency (a warning after the
    // first block), the third clips in its third block.
    {"chain",
     {"--compensate-latency"},
     {test_plugin("logworker"), "--then", "-p", "report:-5", test_plugin("delay"), "--then",
      test_plugin("worker")}},
    // Everything on standard error: trace, log lines, clipping and NaN.
    {"stderr",
     {},
     {test_plugin("logworker"), "--then", test_plugin("invalid"), "--then",
      test_plugin("workerorder")},
     true},
    // LSP's plugins have workers; one of ours between them prints.
    {"lsp",
     {},
     {lsp + "para_equalizer_x32_stereo", "--then", test_plugin("logworker"), "--then",
      lsp + "compressor_stereo"},
     false, true, true},
};

// The case's name in the tests' listing.
void PrintTo(const Case& c, std::ostream* os)
{
    *os << c.name;
}

// A stable digest of bytes (FNV-1a, 64 bits), as hex.
std::string digest(const std::string& bytes)
{
    uint64_t hash = 14695981039346656037ull;
    for (const char c : bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

// What a run left: both streams and the output's bytes.
struct Streams {
    std::string out;
    std::string err;
    std::string output;
};

// The recorded file: "stdout N\n", N bytes, "stderr N\n", N bytes, and
// "output DIGEST\n".
std::string encode(const Streams& s)
{
    return "stdout " + std::to_string(s.out.size()) + "\n" + s.out + "stderr " +
           std::to_string(s.err.size()) + "\n" + s.err + "output " + digest(s.output) + "\n";
}

bool decode(const std::string& text, Streams& s)
{
    std::size_t at = 0;
    const auto take = [&](const std::string& label, std::string& into) {
        const std::size_t end = text.find('\n', at);
        if (end == std::string::npos || text.compare(at, label.size() + 1, label + " ") != 0) {
            return false;
        }
        const std::size_t size = std::stoul(text.substr(at + label.size() + 1, end - at));
        into = text.substr(end + 1, size);
        at = end + 1 + size;
        return into.size() == size;
    };
    if (!take("stdout", s.out) || !take("stderr", s.err)) {
        return false;
    }
    s.output = text.substr(at);
    return true;
}

class OrderedLines : public E2E, public ::testing::WithParamInterface<Case> {
protected:
    void SetUp() override
    {
        E2E::SetUp();
        std::vector<float> samples;
        samples.reserve(2 * input_frames);
        for (long f = 0; f < input_frames; ++f) {
            for (int c = 0; c < 2; ++c) {
                // A triangle within +-0.5 in exact floats, and the burst.
                const bool loud = f >= burst && f < burst + 10;
                samples.push_back(loud ? 1.5f
                                       : static_cast<float>((f * 7 + c * 13) % 200 - 100) / 200.0f);
            }
        }
        write_sound(path("in.wav"), Sound{2, 48000, wav_float, samples});
        write_bytes(path("in.raw"), to_raw_bytes(samples));
    }

    // Runs `binary` over the case; the output's bytes are standard output
    // for a raw case, else the file's.
    Streams run(const std::string& binary, const Case& c, unsigned jobs, unsigned block,
                bool quiet)
    {
        std::vector<std::string> args;
        if (c.raw) {
            args = {"-r", "48000", "-n", "2", "-i", path("in.raw"), "-o", "-"};
        } else {
            std::remove(path("out.wav").c_str());
            // 24-bit: a float file's PEAK chunk holds the time it was written.
            args = {"-i", path("in.wav"), "-o", path("out.wav"), "--output-format=wav:pcm24"};
        }
        args.insert(args.end(), {"-j", std::to_string(jobs), "-b", std::to_string(block)});
        if (quiet) {
            args.push_back("-q");
        }
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.insert(args.end(), c.plugins.begin(), c.plugins.end());
        CommandSpec spec;
        spec.args = args;
        spec.env = {{"LV2_PATH", test_lv2_dir() + (c.system ? ":/usr/lib/lv2" : "")},
                    {"TONBRIX_TEST_LOG", log_path()}};
        if (c.system) {
            // LSP's plugins leak a few blocks of their own when they are freed.
            spec.env.emplace_back("ASAN_OPTIONS", "detect_leaks=0");
        }
        const CommandResult r = run_command(binary, spec);
        EXPECT_EQ(r.status, 0) << r.err.substr(0, 2000);
        Streams s;
        if (c.raw) {
            s.output = r.out;
        } else {
            s.out = r.out;
            s.output = read_file(path("out.wav"));
        }
        s.err = r.err;
        return s;
    }

    static std::string golden(const Case& c, unsigned block)
    {
        return std::string(TONBRIX_SOURCE_DIR) + "/tests/e2e/golden/ordered/" + c.name + "-b" +
               std::to_string(block) + ".txt";
    }
};

// The lines a quiet run leaves out: the notes and the worker's trace, with
// or without a chain's "N: " before them.
std::string without_notes(const std::string& text)
{
    std::string kept;
    for (const std::string& line : lines_of(text)) {
        std::size_t start = 0;
        const std::size_t colon = line.find(": ");
        if (colon != std::string::npos && colon > 0 &&
            line.find_first_not_of("0123456789") == colon) {
            start = colon + 2;
        }
        if (line.compare(start, 6, "Note: ") != 0 &&
            line.compare(start, std::string::npos, "lv2_worker_schedule..") != 0) {
            kept += line + "\n";
        }
    }
    return kept;
}

TEST_P(OrderedLines, StreamsAndOutputAreThoseOfOneBlockAtATimeOnOneThread)
{
    // A quiet run gives the same lines but the notes and the trace.
    const Case& c = GetParam();
    const char* recorder = std::getenv("TONBRIX_RECORD_ORDERED");
    for (const unsigned block : {64u, 4096u}) {
        const std::string file = golden(c, block);
        if (recorder != nullptr) {
            write_bytes(file, encode(run(recorder, c, 1, block, false)));
            continue;
        }
        Streams recorded;
        ASSERT_TRUE(decode(read_file(file), recorded)) << file;
        for (const bool quiet : {false, true}) {
            const std::string out = quiet ? without_notes(recorded.out) : recorded.out;
            const std::string err = quiet ? without_notes(recorded.err) : recorded.err;
            std::string first_output;
            for (const unsigned jobs : {1u, 2u, 4u}) {
                SCOPED_TRACE("block " + std::to_string(block) + ", " + std::to_string(jobs) +
                             " jobs" + (quiet ? ", quiet" : ""));
                const Streams s = run(tonbrix_binary(), c, jobs, block, quiet);
                EXPECT_EQ(s.out, out);
                EXPECT_EQ(s.err, err);
                if (c.own_output) {
                    if (first_output.empty()) {
                        first_output = s.output;
                    }
                    EXPECT_TRUE(s.output == first_output) << "the output differs from -j 1's";
                } else {
                    EXPECT_EQ("output " + digest(s.output) + "\n", recorded.output);
                }
            }
        }
    }
    if (recorder != nullptr) {
        GTEST_SKIP() << "recorded with " << recorder;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, OrderedLines, ::testing::ValuesIn(cases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
