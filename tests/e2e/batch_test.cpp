// Many files in one run: an input folder into an output folder, and job
// lists (--batch) of TAB lines and JSON objects; outputs equal to single
// runs, refusals before any work, a crash that costs one file, messages
// behind each input path, and stop signals that leave no worker behind.
#include "support/e2e.h"
#include "support/messages.h"

#include <dirent.h>
#include <sys/stat.h>

#include <nlohmann/json.hpp>

#include <csignal>
#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

const std::string closing_two_written = "Processed 2 files: 2 written, 0 failed.\n";

Sound tone(int channels, int rate, int format, long frames = 4000)
{
    return make_sound(channels, frames, rate, format, [](long f, int c) {
        return static_cast<float>((f * (c + 3)) % 200) / 400.0f - 0.25f;
    });
}

// Every file under a folder, hidden ones too, by relative path.
std::vector<std::string> tree(const std::string& dir)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        names.push_back(fs::relative(entry.path(), dir).string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The tonbrix processes whose command line names `marker`.
std::vector<std::string> processes_naming(const std::string& marker)
{
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string pid = entry.path().filename().string();
        if (pid.find_first_not_of("0123456789") != std::string::npos ||
            pid == std::to_string(::getpid())) {
            continue;
        }
        std::string command = read_file(entry.path().string() + "/cmdline");
        std::replace(command.begin(), command.end(), '\0', ' ');
        if (command.rfind(tonbrix_binary(), 0) == 0 && command.find(marker) != std::string::npos) {
            found.push_back(pid + ": " + command);
        }
    }
    return found;
}

class Batch : public E2E {
protected:
    // A folder of three sound files (one in a subfolder), a hidden file, a
    // hidden folder and a text file.
    void make_folder()
    {
        fs::create_directories(path("in/sub"));
        fs::create_directories(path("in/.cache"));
        write_sound(path("in/a.wav"), tone(2, 44100, wav_pcm16));
        write_sound(path("in/sub/b.flac"), tone(1, 48000, SF_FORMAT_FLAC | SF_FORMAT_PCM_16));
        write_sound(path("in/.hidden.wav"), tone(1, 48000, wav_pcm16));
        write_sound(path("in/.cache/c.wav"), tone(1, 48000, wav_pcm16));
        write_bytes(path("in/readme.txt"), "not a sound\n");
    }

    void write_list(const std::string& text) { write_bytes(path("jobs.txt"), text); }
};

TEST_F(Batch, FolderIsMirroredIntoTheOutputFolder)
{
    make_folder();
    const CommandResult r = tonbrix({"-i", path("in"), "-o", path("out/new"), "-j", "2",
                                     test_plugin("thru")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "Note: " + path("in/readme.txt") + " is not a sound file; skipped.\n" +
                         per_channel_notes(2) + one_instance_notes + closing_two_written);
    EXPECT_EQ(tree(path("out/new")), (std::vector<std::string>{"a.wav", "sub", "sub/b.flac"}));
    // Each output is its input, through a plugin that changes nothing.
    EXPECT_EQ(read_file(path("out/new/sub/b.flac")).size() > 0, true);
    EXPECT_EQ(read_sound(path("out/new/a.wav")).samples, read_sound(path("in/a.wav")).samples);

    // --output-format gives every output that type's usual extension.
    const CommandResult flac = tonbrix({"-i", path("in"), "-o", path("flac"), "-q",
                                        "--output-format=aiff", test_plugin("thru")});
    EXPECT_EQ(flac.status, 0) << flac.err;
    EXPECT_EQ(flac.out, "");
    EXPECT_EQ(tree(path("flac")), (std::vector<std::string>{"a.aiff", "sub", "sub/b.aiff"}));
    EXPECT_EQ(read_sound(path("flac/sub/b.aiff")).format & SF_FORMAT_TYPEMASK, SF_FORMAT_AIFF);
}

// How many lines of the lifecycle log start with `event` and a space.
long events_logged(const std::string& log, const std::string& event)
{
    long count = 0;
    for (const std::string& line : lines_of(log)) {
        count += line.rfind(event + " ", 0) == 0 ? 1 : 0;
    }
    return count;
}

TEST_F(Batch, OutputsEqualSingleRunsByteForByte)
{
    // A stateful plugin over files of mixed rates, channel counts and
    // formats: each file starts from the plugin's fresh state, as alone,
    // also where a worker's instances served the file before it.
    fs::create_directories(path("in"));
    write_sound(path("in/1.wav"), tone(2, 44100, wav_pcm16, 30000));
    write_sound(path("in/1b.wav"), tone(2, 44100, wav_pcm16, 12000));
    write_sound(path("in/2.flac"), tone(1, 96000, SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 20000));
    write_sound(path("in/3.aiff"), tone(3, 22050, SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 9000));
    write_sound(path("in/4.wav"), tone(2, 48000, wav_pcm16, 700));
    write_sound(path("in/4b.aiff"), tone(2, 48000, SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 5000));
    write_sound(path("in/5.caf"), tone(1, 8000, SF_FORMAT_CAF | SF_FORMAT_PCM_32, 5000));
    write_sound(path("in/6.wav"), tone(2, 44100, wav_pcm16, 3000));
    const std::vector<std::string> names = {"1.wav", "1b.wav", "2.flac", "3.aiff",
                                            "4.wav", "4b.aiff", "5.caf", "6.wav"};
    const std::vector<std::string> options = {"-p", "delay:1000", "--tail=0.01",
                                              test_plugin("delay")};
    for (const std::string& name : names) {
        std::vector<std::string> args = {"-q", "-i", path("in/" + name), "-o", path("single-" + name)};
        args.insert(args.end(), options.begin(), options.end());
        ASSERT_EQ(tonbrix(args).status, 0) << name;
    }
    for (const std::string jobs : {"1", "2", "5"}) {
        fs::remove(log_path());
        std::vector<std::string> args = {"-q", "-j", jobs, "-i", path("in"), "-o", path("out" + jobs)};
        args.insert(args.end(), options.begin(), options.end());
        const CommandResult r = tonbrix(args);
        ASSERT_EQ(r.status, 0) << r.err;
        for (const std::string& name : names) {
            EXPECT_TRUE(read_file(path("out" + jobs + "/" + name)) ==
                        read_file(path("single-" + name)))
                << name << " with -j " << jobs;
        }
        if (jobs == "1") {
            // One worker takes the files in order: 1b and 4b are the shape
            // of the file before them, so 11 instances serve 15 runs of one,
            // and 2 more show once that activation resets the plugin; every
            // instance is freed in the end.
            const std::string log = read_log();
            EXPECT_EQ(events_logged(log, "instantiate"), 13) << log;
            EXPECT_EQ(events_logged(log, "cleanup"), 13) << log;
        }
    }
}

TEST_F(Batch, KeptInstancesTakeEachJobsOwnValues)
{
    // Jobs of two shapes in turn, each with its own delay, and a job that
    // fails: each output is the single run's.
    write_sound(path("a.wav"), tone(2, 44100, wav_pcm16, 6000));
    write_sound(path("b.wav"), tone(2, 44100, wav_float, 4000));
    write_sound(path("m.wav"), tone(1, 44100, wav_pcm16, 3000));
    struct Job {
        const char* input;
        const char* output;
        const char* delay;
    };
    const std::vector<Job> jobs = {{"m.wav", "m.wav", "40"},   {"a.wav", "a1.wav", "100"},
                                   {"b.wav", "b.wav", "500"},  {"missing.wav", "x.wav", "7"},
                                   {"a.wav", "a2.wav", "250"}, {"a.wav", "a3.wav", "250"},
                                   {"m.wav", "m2.wav", "90"}};
    std::string list;
    for (const Job& job : jobs) {
        list += std::string("{\"input\": \"") + job.input + "\", \"output\": \"out/" +
                job.output + "\", \"parameters\": {\"delay\": " + job.delay + "}}\n";
    }
    write_list(list);
    fs::create_directories(path("out"));
    const CommandResult r =
        tonbrix_under({"sh", "-c", "cd \"$1\" && shift && exec \"$@\"", "sh", dir_},
                      {"--batch=jobs.txt", "-q", "-j", "1", test_plugin("delay")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("missing.wav: ", 0), 0u) << r.err;
    // One instance for both runs of m.wav, two for all of a.wav and b.wav,
    // and two new ones against which the kept ones are checked once.
    EXPECT_EQ(events_logged(read_log(), "instantiate"), 5) << read_log();
    for (const Job& job : jobs) {
        if (std::string(job.input) == "missing.wav") {
            continue;
        }
        const CommandResult single =
            tonbrix({"-q", "-i", path(job.input), "-o", path(std::string("single-") + job.output),
                     "-p", std::string("delay:") + job.delay, test_plugin("delay")});
        ASSERT_EQ(single.status, 0) << single.err;
        EXPECT_EQ(read_sound(path(std::string("out/") + job.output)).samples,
                  read_sound(path(std::string("single-") + job.output)).samples)
            << job.output;
    }
}

TEST_F(Batch, PluginThatActivationDoesNotResetGetsNewInstancesForEachFile)
{
    // The plugin's decay would carry from one file into the next if its
    // instances were kept.
    fs::create_directories(path("in"));
    const std::vector<std::string> names = {"1.wav", "2.wav", "3.wav"};
    for (std::size_t k = 0; k < names.size(); ++k) {
        write_sound(path("in/" + names[k]), tone(1, 44100, wav_float, 3000 + 1000 * k));
        ASSERT_EQ(tonbrix({"-q", "-i", path("in/" + names[k]), "-o", path("single-" + names[k]),
                           test_plugin("stale")})
                      .status,
                  0);
    }
    fs::remove(log_path());
    const CommandResult r =
        tonbrix({"-q", "-j", "1", "-i", path("in"), "-o", path("out"), test_plugin("stale")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    for (const std::string& name : names) {
        EXPECT_EQ(read_sound(path("out/" + name)).samples,
                  read_sound(path("single-" + name)).samples)
            << name;
    }
    // One instance a file, and one more for the check that found it out.
    EXPECT_EQ(events_logged(read_log(), "instantiate"), 4) << read_log();
    EXPECT_EQ(events_logged(read_log(), "cleanup"), 4) << read_log();
}

TEST_F(Batch, RealReverbsAndDelaysGiveEachFileAsAlone)
{
    // Real plugins of which some clear their delay lines on activation and
    // some do not: a file never hears the one before it in its worker.
    fs::create_directories(path("in"));
    const std::vector<std::string> names = {"1.wav", "2.wav", "3.wav"};
    for (std::size_t k = 0; k < names.size(); ++k) {
        write_sound(path("in/" + names[k]), tone(2, 44100, wav_pcm16, 20000 - 5000 * k));
    }
    // LSP's delay leaves a few of its buffers unfreed.
    const auto run = [this](const std::vector<std::string>& args) {
        return tonbrix(args, "",
                       {{"LV2_PATH", test_lv2_dir() + ":/usr/lib/lv2"},
                        {"ASAN_OPTIONS", "detect_leaks=0"}});
    };
    for (const std::string uri :
         {"http://drobilla.net/plugins/fomp/reverb", "http://plugin.org.uk/swh-plugins/plate",
          "http://drobilla.net/plugins/mda/DubDelay", "http://calf.sourceforge.net/plugins/Reverb",
          "http://lsp-plug.in/plugins/lv2/art_delay_stereo"}) {
        fs::remove_all(path("out"));
        const CommandResult r =
            run({"-q", "--ignore-clipping", "-j", "1", "-i", path("in"), "-o", path("out"), uri});
        ASSERT_EQ(r.status, 0) << uri << ": " << r.err;
        for (const std::string& name : names) {
            const CommandResult single = run({"-q", "--ignore-clipping", "-i", path("in/" + name),
                                              "-o", path("single-" + name), uri});
            ASSERT_EQ(single.status, 0) << uri << ": " << single.err;
            EXPECT_TRUE(read_file(path("out/" + name)) == read_file(path("single-" + name)))
                << uri << " " << name;
        }
    }
}

TEST_F(Batch, RefusalsComeBeforeAnyWork)
{
    make_folder();
    write_sound(path("in/a.aiff"), tone(1, 48000, SF_FORMAT_AIFF | SF_FORMAT_PCM_16));
    write_bytes(path("file.wav"), "x");
    write_list("in/a.wav\tsame.wav\nin/sub/b.flac\t./same.wav\n");
    struct Case {
        const char* label;
        std::vector<std::string> args;
        std::string err;
        std::string out = {}; // the notes of files skipped before the refusal
    };
    const std::string skipped = "Note: " + path("in/readme.txt") + " is not a sound file; skipped.\n";
    const std::vector<Case> cases = {
        {"output inside input", {"-i", path("in"), "-o", path("in/out")},
         "Error: the output folder " + path("in/out") + " is inside the input folder " + path("in") +
             "; choose an output folder outside it.\n"},
        {"output is the input", {"-i", path("in"), "-o", path("in/sub/..")},
         "Error: the output folder " + path("in/sub/..") + " is inside the input folder " +
             path("in") + "; choose an output folder outside it.\n"},
        {"two inputs, one output", {"-i", path("in"), "-o", path("out"), "--output-format=flac"},
         "Error: " + path("in/a.aiff") + " and " + path("in/a.wav") + " would both be written to " +
             path("out/a.flac") + "; give each input its own output.\n",
         skipped},
        {"output is a file", {"-i", path("in"), "-o", path("file.wav")},
         "Error: the input " + path("in") + " is a folder, so the output must be a folder too; " +
             path("file.wav") + " is not one.\n"},
        {"job list, one output", {"--batch=" + path("jobs.txt")},
         "Error: in/a.wav and in/sub/b.flac would both be written to ./same.wav; give each input its "
         "own output.\n"},
        {"job list with -i", {"--batch", path("jobs.txt"), "-i", path("in/a.wav")},
         "Error: --batch takes each job's input and output from the list; leave out -i and -o.\n"},
        {"no job list", {"--batch=" + path("nothing.txt")},
         "Error: cannot read the job list " + path("nothing.txt") +
             ": No such file or directory.\n"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        args.push_back(test_plugin("thru"));
        const CommandResult r = tonbrix_under({"sh", "-c", "cd \"$1\" && shift && exec \"$@\"", "sh", dir_},
                                              args);
        EXPECT_EQ(r.status, 1) << c.label;
        EXPECT_EQ(r.out, c.out) << c.label;
        EXPECT_EQ(r.err, c.err) << c.label;
        EXPECT_FALSE(file_exists(path("out"))) << c.label;
        EXPECT_FALSE(file_exists(path("in/out"))) << c.label;
        EXPECT_FALSE(file_exists(path("same.wav"))) << c.label;
    }
}

TEST_F(Batch, JobListValuesActAsIfAtTheEndOfTheCommandLine)
{
    const Sound silence = make_sound(1, 64, 48000, wav_float, [](long, int) { return 0.0f; });
    write_sound(path("in.wav"), silence);
    // The plugin writes its controls a, b, c as the first three frames.
    write_list("# the preset and -p of the command line\n"
               "in.wav\tplain.wav\n"
               "\n"
               "   # an indented comment\n"
               "{\"input\": \"in.wav\", \"output\": \"beta.wav\", \"preset\": \"Beta\"}\n"
               "{\"input\": \"in.wav\", \"output\": \"params.wav\", \"parameters\": {\"c\": -1, "
               "\"a\": 4}}\n"
               "in.wav out.wav\n"
               "{\"input\": \"in.wav\", \"output\": \"x.wav\", \"gain\": 2}\n"
               "{\"input\": \"missing.wav\", \"output\": \"missing-out.wav\"}\n");
    const CommandResult r = tonbrix_under(
        {"sh", "-c", "cd \"$1\" && shift && exec \"$@\"", "sh", dir_},
        {"--batch=jobs.txt", "-q", "--ignore-clipping", "-P", "Alpha", "-p", "c:3",
         test_plugin("presets")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    const std::vector<std::string> err = lines_of(r.err);
    // The missing input's two lines: libsndfile's, then the path and the reason.
    ASSERT_EQ(err.size(), 4u) << r.err;
    EXPECT_EQ(err[0], "Error: job list line 7: expected INPUT<TAB>OUTPUT or a JSON object");
    EXPECT_EQ(err[1], "Error: job list line 8: unknown key \"gain\" (known: input, output, "
                      "parameters, preset, set)");
    EXPECT_EQ(err[2].rfind("missing.wav: ", 0), 0u) << err[2];
    EXPECT_EQ(err[3], "missing.wav: missing.wav: No such file or directory.");
    const auto first_three = [&](const std::string& name) {
        const Sound s = read_sound(path(name));
        return std::vector<float>{s.at(0, 0), s.at(1, 0), s.at(2, 0)};
    };
    EXPECT_EQ(first_three("plain.wav"), (std::vector<float>{0.5f, 8000.0f, 3.0f}));
    EXPECT_EQ(first_three("beta.wav"), (std::vector<float>{1.0f, 1.0f, 3.0f}));
    EXPECT_EQ(first_three("params.wav"), (std::vector<float>{4.0f, 8000.0f, -1.0f}));

    // Standard input carries a list too; the count closes the run.
    const CommandResult piped = tonbrix_under(
        {"sh", "-c", "cd \"$1\" && shift && printf 'in.wav\\tpiped.wav\\n' | \"$@\"", "sh", dir_},
        {"--batch", "-", test_plugin("presets")});
    EXPECT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(piped.out, one_instance_notes + "Processed 1 files: 1 written, 0 failed.\n");
    EXPECT_TRUE(file_exists(path("piped.wav")));
}

TEST_F(Batch, CrashingPluginCostsOneFile)
{
    fs::create_directories(path("out"));
    write_sound(path("in.wav"), tone(1, 48000, wav_pcm16, 30000));
    write_sound(path("stereo.wav"), tone(2, 48000, wav_pcm16, 30000));
    // One worker: the crash takes it, and a new one runs the rest. The
    // notes that only the stereo job printed before its crash are kept.
    write_list("in.wav\tout/1.wav\n"
               "{\"input\": \"in.wav\", \"output\": \"out/2.wav\", \"parameters\": {\"signal\": 11}}\n"
               "in.wav\tout/3.wav\n"
               "{\"input\": \"in.wav\", \"output\": \"out/4.wav\", \"parameters\": {\"signal\": 6}}\n"
               "in.wav\tout/5.wav\n"
               "{\"input\": \"stereo.wav\", \"output\": \"out/6.wav\", \"parameters\": {\"signal\": 11}}\n");
    for (const std::string jobs : {"1", "3"}) {
        fs::remove_all(path("out"));
        fs::create_directories(path("out"));
        const CommandResult r = tonbrix_under(
            {"sh", "-c", "cd \"$1\" && shift && exec \"$@\"", "sh", dir_},
            {"--batch=jobs.txt", "-j", jobs, "-p", "after:20000", test_plugin("raise")});
        EXPECT_EQ(r.status, 1) << jobs;
        EXPECT_EQ(r.err, "in.wav: plugin " + test_plugin("raise") +
                             " crashed with signal 11 (SIGSEGV)\n"
                             "in.wav: plugin " + test_plugin("raise") +
                             " crashed with signal 6 (SIGABRT)\n"
                             "stereo.wav: plugin " + test_plugin("raise") +
                             " crashed with signal 11 (SIGSEGV)\n")
            << jobs;
        EXPECT_EQ(r.out, one_instance_notes + per_channel_notes(2) +
                             "Processed 6 files: 3 written, 3 failed.\n")
            << jobs;
        // No temporary file is left, and the others were written whole.
        EXPECT_EQ(folder_entries(path("out")), (std::vector<std::string>{"1.wav", "3.wav", "5.wav"}))
            << jobs;
        EXPECT_EQ(read_sound(path("out/5.wav")).samples, read_sound(path("in.wav")).samples);
    }
}

TEST_F(Batch, RealPluginCrashCostsOneFile)
{
    if (!file_exists("/usr/lib/lv2/ringmod-swh.lv2")) {
        GTEST_SKIP() << "swh-lv2 is not installed";
    }
    fs::create_directories(path("in"));
    write_sound(path("in/a.wav"), tone(1, 48000, wav_pcm16));
    write_sound(path("in/b.wav"), tone(1, 44100, wav_pcm16));
    write_list("{\"input\": \"" + path("in/a.wav") + "\", \"output\": \"" + path("a.wav") +
               "\", \"parameters\": {\"freq\": 1e30}}\n" + path("in/b.wav") + "\t" + path("b.wav") +
               "\n");
    const std::string uri = "http://plugin.org.uk/swh-plugins/ringmod_1i1o1l";
    const CommandResult r = tonbrix_system({"--batch=" + path("jobs.txt"), "-q", "-p", "freq:440", uri});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, path("in/a.wav") + ": plugin " + uri + " crashed with signal 11 (SIGSEGV)\n");
    EXPECT_EQ(folder_entries(dir_), (std::vector<std::string>{"b.wav", "in", "jobs.txt"}));
}

TEST_F(Batch, MessagesStartWithTheInputAndDoNotDependOnTheWorkers)
{
    fs::create_directories(path("in"));
    for (int i = 0; i < 6; ++i) {
        const float level = i % 2 == 0 ? 0.5f : 0.9f;
        write_sound(path("in/" + std::to_string(i) + ".wav"),
                    make_sound(2, 1024, 48000, wav_float,
                               [&](long, int c) { return c == 0 ? level : 0.0f; }));
    }
    write_bytes(path("in/5.wav"), "broken");
    CommandResult first;
    for (const std::string jobs : {"1", "2", "4"}) {
        fs::remove_all(path("out"));
        const CommandResult r = tonbrix({"-i", path("in"), "-o", path("out"), "-j", jobs, "-p",
                                         "gain:1.5", "--report", test_plugin("mixed")});
        // A broken file named as a sound file fails.
        EXPECT_EQ(r.status, 1);
        if (jobs == "1") {
            first = r;
            continue;
        }
        EXPECT_EQ(r.out, first.out) << jobs;
        EXPECT_EQ(r.err, first.err) << jobs;
    }
    // Clipping warnings and report lines carry their input; notes come once.
    const std::string in = path("in/");
    EXPECT_EQ(first.out,
              one_instance_notes +
                  in + "0.wav: level: 0.75\n" +
                  in + "1.wav: WARNING: Clipping output.\n" + in +
                  "1.wav: Try changing parameters of the plugin to lower the output volume, or if "
                  "that's not possible, try lowering the volume of the input before processing.\n" +
                  in + "1.wav: level: 1.35\n" + in + "2.wav: level: 0.75\n" +
                  in + "3.wav: WARNING: Clipping output.\n" + in +
                  "3.wav: Try changing parameters of the plugin to lower the output volume, or if "
                  "that's not possible, try lowering the volume of the input before processing.\n" +
                  in + "3.wav: level: 1.35\n" + in + "4.wav: level: 0.75\n" +
                  "Processed 6 files: 5 written, 1 failed.\n");
    ASSERT_FALSE(first.err.empty());
    for (const std::string& line : lines_of(first.err)) {
        EXPECT_EQ(line.rfind(in + "5.wav: ", 0), 0u) << line;
    }
}

TEST_F(Batch, JsonReportIsOneDocumentWithEveryFile)
{
    write_sound(path("in.wav"), make_sound(2, 1024, 48000, wav_float,
                                           [](long, int c) { return c == 0 ? 0.25f : 0.0f; }));
    write_list(path("in.wav") + "\t" + path("a.wav") + "\n" +
               "{\"input\": \"" + path("in.wav") + "\", \"output\": \"" + path("b.wav") +
               "\", \"parameters\": {\"gain\": 2}}\n" + path("none.wav") + "\t" + path("c.wav") + "\n");
    const CommandResult r = tonbrix({"--batch=" + path("jobs.txt"), "--json", test_plugin("mixed")});
    EXPECT_EQ(r.status, 1);
    // The notes and the count go to standard error, beside the failed file's error.
    EXPECT_NE(r.err.find(one_instance_notes), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Processed 3 files: 2 written, 1 failed.\n"), std::string::npos);
    EXPECT_NE(r.err.find(path("none.wav") + ": "), std::string::npos);
    EXPECT_NE(r.out.find("\"input\": \"" + path("in.wav") + "\",\n      \"output\": \"" +
                         path("b.wav") + "\",\n      \"written\": true,"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\"written\": false,\n      \"report\": null"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"level\": 0.5"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.rfind("{\n  \"plugin\": \"" + test_plugin("mixed") + "\",\n  \"files\": [", 0), 0u);
}

TEST_F(Batch, StopSignalsEndEveryWorkerAndKeepFinishedFiles)
{
    fs::create_directories(path("in"));
    for (int i = 0; i < 12; ++i) {
        write_sound(path("in/" + std::to_string(10 + i) + ".wav"), tone(1, 48000, wav_pcm16, 4800));
    }
    struct Case {
        const char* signal;
        int number;
        int times;
    };
    const Case cases[] = {{"TERM", SIGTERM, 1}, {"INT", SIGINT, 1}, {"HUP", SIGHUP, 2}, {"TERM", SIGTERM, 2}};
    for (const Case& c : cases) {
        const std::string label = std::string(c.signal) + " x" + std::to_string(c.times);
        const std::string out = path(std::string("out-") + c.signal + std::to_string(c.times));
        // The signal comes once the first output is there; each file takes
        // ten runs of 40 ms. tonbrix takes the shell's place in the
        // foreground, where SIGINT is not ignored.
        std::string kills;
        for (int k = 0; k < c.times; ++k) {
            kills += "kill -" + std::string(c.signal) + " $$; ";
        }
        const std::string script = "(while [ -z \"$(ls " + out +
                                   " 2>/dev/null)\" ]; do sleep 0.02; done; " + kills +
                                   ") & exec \"$0\" \"$@\"";
        const CommandResult r = tonbrix_under(
            {"sh", "-c", script},
            {"-i", path("in"), "-o", out, "-j", "2", "-b", "480", "-p", "delay:40", test_plugin("slow")});
        EXPECT_EQ(r.status, 128 + c.number) << label;
        EXPECT_EQ(r.err, "Interrupted.\n") << label;
        EXPECT_EQ(processes_naming(out), std::vector<std::string>{}) << label;
        // Finished files are whole; no temporary file is left.
        const std::vector<std::string> written = folder_entries(out);
        EXPECT_GE(written.size(), 1u) << label;
        EXPECT_LT(written.size(), 12u) << label;
        for (const std::string& name : written) {
            EXPECT_NE(name[0], '.') << label;
            EXPECT_EQ(read_sound(out + "/" + name).frames(), 4800) << label << " " << name;
        }
    }
}

TEST_F(Batch, UnreadableFileNamedAsASoundFileFailsOthersAreSkipped)
{
    // A data set with broken files among good ones: every file named as a
    // sound file is processed or reported, also in a quiet run.
    fs::create_directories(path("in/deep"));
    write_sound(path("in/good.wav"), tone(1, 48000, wav_pcm16));
    write_bytes(path("in/broken.wav"), "RIFF....WAVEjunk");
    write_bytes(path("in/deep/empty.FLAC"), "");
    write_bytes(path("in/take.aif"), "FORM");
    write_bytes(path("in/clip.ogg"), std::string(300, 'x'));
    write_bytes(path("in/notes.txt"), "not a sound\n");
    write_bytes(path("in/data.raw"), std::string(64, '\0'));
    write_bytes(path("in/README"), "no extension\n");
    const std::vector<std::string> failed = {"broken.wav", "clip.ogg", "deep/empty.FLAC",
                                             "take.aif"};
    std::string skipped;
    for (const std::string name : {"README", "data.raw", "notes.txt"}) {
        skipped += "Note: " + path("in/" + name) + " is not a sound file; skipped.\n";
    }
    for (const bool quiet : {false, true}) {
        fs::remove_all(path("out"));
        std::vector<std::string> args = {"-i", path("in"), "-o", path("out"), "-j", "2",
                                         test_plugin("thru")};
        if (quiet) {
            args.insert(args.begin(), "-q");
        }
        const CommandResult r = tonbrix(args);
        EXPECT_EQ(r.status, 1) << quiet;
        EXPECT_EQ(r.out, quiet ? "" : skipped + one_instance_notes +
                                          "Processed 5 files: 1 written, 4 failed.\n");
        // Each says why, in the order of the files.
        std::size_t at = 0;
        for (const std::string& name : failed) {
            at = r.err.find(path("in/" + name) + ": Error", at);
            EXPECT_NE(at, std::string::npos) << name << ": " << r.err;
        }
        for (const std::string& line : lines_of(r.err)) {
            EXPECT_TRUE(std::any_of(failed.begin(), failed.end(), [&](const std::string& name) {
                return line.rfind(path("in/" + name) + ": ", 0) == 0;
            })) << line;
        }
        EXPECT_EQ(tree(path("out")), (std::vector<std::string>{"deep", "good.wav"}));
    }

    // A job list names its files: one that cannot be read fails whatever its name.
    write_list(path("in/notes.txt") + "\t" + path("a.wav") + "\n" + path("in/good.wav") + "\t" +
               path("b.wav") + "\n");
    const CommandResult listed = tonbrix({"--batch=" + path("jobs.txt"), "-q", test_plugin("thru")});
    EXPECT_EQ(listed.status, 1);
    EXPECT_EQ(listed.err.rfind(path("in/notes.txt") + ": Error", 0), 0u) << listed.err;
    EXPECT_FALSE(file_exists(path("a.wav")));
    EXPECT_TRUE(file_exists(path("b.wav")));
}

TEST_F(Batch, NothingToProcessIsWarnedAboutAndEndsWithZero)
{
    // Scripts run over folders that may be empty: the run says so, even
    // when quiet, and succeeds.
    fs::create_directories(path("empty"));
    fs::create_directories(path("texts"));
    write_bytes(path("texts/a.txt"), "text\n");
    write_bytes(path("comments.txt"), "# nothing yet\n\n");
    write_bytes(path("nothing.txt"), "");
    const std::string closing = "Processed 0 files: 0 written, 0 failed.\n";
    struct Case {
        std::vector<std::string> args;
        std::string warning;
        std::string notes = {};
    };
    const std::vector<Case> cases = {
        {{"-i", path("empty"), "-o", path("out")},
         "WARNING: No sound files in " + path("empty") + "; nothing to process.\n"},
        {{"-i", path("texts"), "-o", path("out")},
         "WARNING: No sound files in " + path("texts") + "; nothing to process.\n",
         "Note: " + path("texts/a.txt") + " is not a sound file; skipped.\n"},
        {{"--batch=" + path("comments.txt")},
         "WARNING: The job list " + path("comments.txt") + " holds no jobs; nothing to process.\n"},
        {{"--batch=" + path("nothing.txt")},
         "WARNING: The job list " + path("nothing.txt") + " holds no jobs; nothing to process.\n"},
    };
    for (const Case& c : cases) {
        for (const bool quiet : {false, true}) {
            std::vector<std::string> args = c.args;
            args.push_back(test_plugin("thru"));
            if (quiet) {
                args.insert(args.begin(), "-q");
            }
            const CommandResult r = tonbrix(args);
            EXPECT_EQ(r.status, 0) << c.warning;
            EXPECT_EQ(r.out, quiet ? c.warning : c.notes + c.warning + closing);
            EXPECT_EQ(r.err, "");
        }
    }
    // Standard input names itself; with --json the document lists no file.
    const CommandResult piped = tonbrix({"--batch=-", "--json", test_plugin("thru")}, "");
    EXPECT_EQ(piped.status, 0);
    EXPECT_EQ(piped.err, "WARNING: The job list on standard input holds no jobs; nothing to "
                         "process.\n" + closing);
    EXPECT_EQ(nlohmann::json::parse(piped.out)["files"], nlohmann::json::array());
}

TEST_F(Batch, JsonGivesEveryFailedJobItsMessageAndEveryJobItsLine)
{
    write_sound(path("in.wav"), tone(1, 48000, wav_pcm16, 30000));
    write_bytes(path("broken.wav"), "broken");
    write_list("# jobs\n" + path("in.wav") + "\t" + path("a.wav") + "\n" +
               path("in.wav") + " " + path("b.wav") + "\n" +
               "{\"input\": \"" + path("in.wav") + "\", \"output\": \"" + path("c.wav") +
               "\", \"parameters\": {\"signal\": 11}}\n" +
               path("broken.wav") + "\t" + path("d.wav") + "\n" +
               "{\"input\": \"" + path("in.wav") + "\", \"output\": \"" + path("e.wav") +
               "\", \"parameters\": {\"nothing\": 1}}\n");
    const CommandResult r = tonbrix({"--batch=" + path("jobs.txt"), "--json", "-q", "-p",
                                     "after:20000", test_plugin("raise")});
    EXPECT_EQ(r.status, 1);
    const nlohmann::json files = nlohmann::json::parse(r.out)["files"];
    ASSERT_EQ(files.size(), 5u) << r.out;
    const auto error = [&](std::size_t k) { return files[k]["error"].get<std::string>(); };
    // The fields that were there come first, as before.
    std::vector<std::string> keys;
    const nlohmann::ordered_json in_order = nlohmann::ordered_json::parse(r.out);
    for (const auto& item : in_order["files"][0].items()) {
        keys.push_back(item.key());
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"input", "output", "written", "report", "error",
                                              "line"}));
    EXPECT_EQ(files[0]["line"], 2);
    EXPECT_EQ(files[0]["written"], true);
    EXPECT_TRUE(files[0]["error"].is_null());
    EXPECT_EQ(files[1]["line"], 3);
    EXPECT_EQ(files[1]["input"], "");
    EXPECT_EQ(error(1), "Error: job list line 3: expected INPUT<TAB>OUTPUT or a JSON object");
    EXPECT_EQ(files[2]["line"], 4);
    EXPECT_EQ(error(2), "plugin " + test_plugin("raise") + " crashed with signal 11 (SIGSEGV)");
    EXPECT_EQ(files[3]["line"], 5);
    EXPECT_EQ(error(3).rfind("Error", 0), 0u) << error(3);
    EXPECT_EQ(files[4]["line"], 6);
    EXPECT_EQ(error(4), "Error: Port with symbol nothing does not exist.");
    // Each message is the one standard error gives after the input.
    for (const std::size_t k : {2, 4}) {
        EXPECT_NE(r.err.find(path("in.wav") + ": " + error(k) + "\n"), std::string::npos)
            << r.err;
    }
    EXPECT_NE(r.err.find(path("broken.wav") + ": " + lines_of(error(3)).front() + "\n"),
              std::string::npos)
        << r.err;

    // A folder run has no lines; a plugin that prints keeps the document whole.
    fs::create_directories(path("in"));
    write_sound(path("in/a.wav"), tone(1, 48000, wav_pcm16, 3000));
    write_bytes(path("in/b.wav"), "broken");
    const CommandResult folder = tonbrix({"-i", path("in"), "-o", path("out"), "--json", "-q",
                                          test_plugin("chatty")});
    EXPECT_EQ(folder.status, 1);
    const nlohmann::json entries = nlohmann::json::parse(folder.out)["files"];
    ASSERT_EQ(entries.size(), 2u) << folder.out;
    EXPECT_FALSE(entries[0].contains("line"));
    EXPECT_TRUE(entries[0]["error"].is_null());
    EXPECT_TRUE(entries[0]["report"].is_object());
    EXPECT_EQ(entries[1]["error"].get<std::string>().rfind("Error", 0), 0u) << entries[1];
    EXPECT_NE(folder.err.find(path("in/a.wav") + ": chatty: run of 512 frames\n"),
              std::string::npos)
        << folder.err;
}

TEST_F(Batch, SkipExistingLeavesOutTheJobsWhoseOutputIsCurrent)
{
    fs::create_directories(path("in"));
    for (const std::string name : {"current.wav", "older.wav", "missing.wav", "same.wav"}) {
        write_sound(path("in/" + name), tone(1, 48000, wav_pcm16, 3000));
    }
    ASSERT_EQ(tonbrix({"-q", "-i", path("in"), "-o", path("out"), test_plugin("thru")}).status, 0);
    const auto at = [](const std::string& file, int seconds) {
        fs::last_write_time(file, fs::file_time_type::clock::now() + std::chrono::seconds(seconds));
    };
    // A current output is never read or written again: its bytes show it.
    write_bytes(path("out/current.wav"), "kept as it is");
    at(path("in/current.wav"), -100);
    at(path("out/current.wav"), -50);
    // An input changed since its output was written is run again.
    at(path("out/older.wav"), -100);
    at(path("in/older.wav"), -50);
    fs::remove(path("out/missing.wav"));
    // An output as old as its input counts as current.
    fs::last_write_time(path("out/same.wav"), fs::last_write_time(path("in/same.wav")));
    write_bytes(path("in/broken.wav"), "broken");

    const CommandResult r = tonbrix({"--skip-existing", "-i", path("in"), "-o", path("out"),
                                     "-j", "2", test_plugin("thru")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, one_instance_notes + "Processed 5 files: 2 written, 2 skipped, 1 failed.\n");
    EXPECT_EQ(r.err.rfind(path("in/broken.wav") + ": ", 0), 0u) << r.err;
    EXPECT_EQ(read_file(path("out/current.wav")), "kept as it is");
    EXPECT_EQ(read_sound(path("out/older.wav")).samples, read_sound(path("in/older.wav")).samples);
    EXPECT_EQ(read_sound(path("out/missing.wav")).samples,
              read_sound(path("in/missing.wav")).samples);
    EXPECT_FALSE(file_exists(path("out/broken.wav")));

    // A job list resumes the same way; --json marks each job; all skipped is success.
    write_list(path("in/current.wav") + "\t" + path("out/current.wav") + "\n" +
               path("in/older.wav") + "\t" + path("out/older.wav") + "\n");
    const CommandResult listed =
        tonbrix({"--skip-existing", "--batch=" + path("jobs.txt"), "--json", test_plugin("thru")});
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_EQ(listed.err, "Processed 2 files: 0 written, 2 skipped, 0 failed.\n");
    const nlohmann::json files = nlohmann::json::parse(listed.out)["files"];
    ASSERT_EQ(files.size(), 2u);
    for (const nlohmann::json& file : files) {
        EXPECT_EQ(file["skipped"], true) << file;
        EXPECT_EQ(file["written"], false) << file;
        EXPECT_TRUE(file["error"].is_null()) << file;
        EXPECT_TRUE(file["report"].is_null()) << file;
    }
    EXPECT_EQ(read_file(path("out/current.wav")), "kept as it is");
}

} // namespace
