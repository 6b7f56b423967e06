// Broken and unusual input files: each run ends in a clear error with no
// output left, or in an output that holds exactly what could be read.
#include "support/e2e.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

namespace {

void put16(std::string& bytes, uint32_t v)
{
    bytes += static_cast<char>(v & 0xff);
    bytes += static_cast<char>((v >> 8) & 0xff);
}

void put32(std::string& bytes, uint32_t v)
{
    put16(bytes, v & 0xffff);
    put16(bytes, v >> 16);
}

// A canonical 16-bit PCM WAV header whose fields say what they are told,
// followed by `data`.
std::string wav_bytes(uint32_t channels, uint32_t data_size, const std::string& data)
{
    std::string b = "RIFF";
    put32(b, 36 + data_size);
    b += "WAVEfmt ";
    put32(b, 16);
    put16(b, 1);
    put16(b, channels);
    put32(b, 44100);
    put32(b, 44100 * channels * 2);
    put16(b, channels * 2);
    put16(b, 16);
    b += "data";
    put32(b, data_size);
    return b + data;
}

// A stereo file of `frames` frames in this format, as bytes.
std::string encoded(const std::string& scratch, int format, long frames)
{
    write_sound(scratch, make_sound(2, frames, 44100, format, [](long f, int c) {
                    // A chirp: enough for a compressed file to have many frames.
                    const auto t = static_cast<float>(f);
                    return std::sin(t * 0.01f) * 0.3f + std::sin(t * t * (c + 1) * 1e-7f) * 0.2f;
                }));
    return read_file(scratch);
}

// Whatever libsndfile reads of a file: frames and channels, or nothing.
bool readable(const std::string& file, Sound& sound)
{
    SF_INFO info{};
    SNDFILE* handle = sf_open(file.c_str(), SFM_READ, &info);
    if (handle == nullptr) {
        return false;
    }
    sound = Sound{info.channels, info.samplerate, info.format, {}};
    std::vector<float> block(static_cast<std::size_t>(info.channels) * 1024);
    sf_count_t n = 0;
    while ((n = sf_readf_float(handle, block.data(), 1024)) > 0) {
        sound.samples.insert(sound.samples.end(), block.begin(), block.begin() + n * info.channels);
    }
    sf_close(handle);
    return true;
}

enum class Outcome {
    error,       // status 1, the message, no output
    exact,       // status 0, the output holds exactly the samples that can be read
    lossy,       // status 0, a readable output no longer than the input (re-encoded)
                 // that holds some of it
};

} // namespace

class MalformedFiles : public E2E {};

TEST_F(MalformedFiles, EndInAClearErrorOrACorrectOutput)
{
    const std::string scratch = path("scratch");
    const std::string wav16 = encoded(scratch + ".wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 200);
    const std::string aiff16 = encoded(scratch + ".aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 200);
    const std::string wav8 = encoded(scratch + ".wav", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 200);
    const std::string wav24 = encoded(scratch + ".wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 200);
    const std::string ulaw = encoded(scratch + ".au", SF_FORMAT_AU | SF_FORMAT_ULAW, 200);
    const std::string flac = encoded(scratch + ".flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100);
    const std::string ogg = encoded(scratch + ".ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 220500);
    const std::string samples_of_ten_frames(40, '\x10');
    const std::string not_recognised = "Error reading input file: Format not recognised.\n";

    struct Case {
        const char* label;
        std::string bytes;
        Outcome outcome;
        std::string err = "";
        long frames = -1; // for exact outputs
    };
    const Case cases[] = {
        {"empty file", "", Outcome::error, not_recognised},
        {"WAV cut in the RIFF header", wav16.substr(0, 10), Outcome::error, not_recognised},
        {"WAV cut in the fmt chunk", wav16.substr(0, 30), Outcome::error,
         "Error reading input file: Error in WAV file. No 'data' chunk marker.\n"},
        {"WAV cut in the data chunk header", wav16.substr(0, 40), Outcome::error,
         "Error reading input file: Error in WAV file. No 'data' chunk marker.\n"},
        {"AIFF cut in the header", aiff16.substr(0, 30), Outcome::error,
         "Error reading input file: Unspecified internal error.\n"},
        {"data chunk longer than the file", wav16.substr(0, 44 + 4 * 50), Outcome::exact, "", 50},
        {"zero channels", wav_bytes(0, 40, samples_of_ten_frames), Outcome::error,
         "Error reading input file: Channel count is zero.\n"},
        {"zero frames", wav_bytes(2, 0, ""), Outcome::exact, "", 0},
        {"2000 channels", wav_bytes(2000, 40, samples_of_ten_frames), Outcome::error,
         "Error reading input file: Too many channels specified.\n"},
        {"8-bit", wav8, Outcome::exact, "", 200},
        {"8-bit ending mid-frame", wav8.substr(0, wav8.size() - 1), Outcome::exact, "", 199},
        {"24-bit ending mid-frame", wav24.substr(0, wav24.size() - 4), Outcome::exact, "", 199},
        {"mu-law ending mid-frame", ulaw.substr(0, ulaw.size() - 1), Outcome::exact, "", 199},
        // Found while reading, after the first blocks were written.
        {"FLAC ending mid-frame", flac.substr(0, flac.size() * 3 / 5), Outcome::error,
         "Error reading input file: Error : flac decoder lost sync.\n"},
        {"Ogg ending mid-page", ogg.substr(0, ogg.size() * 3 / 5), Outcome::lossy},
        {"Ogg cut early", ogg.substr(0, ogg.size() / 5), Outcome::error,
         "Error reading input file: Supported file format but file is malformed.\n"},
    };
    for (const Case& c : cases) {
        std::remove(path("out").c_str());
        write_bytes(path("in"), c.bytes);
        // libsndfile leaks when it refuses a malformed Ogg file: see tests/lsan.supp.
        const CommandResult r =
            tonbrix({"-i", path("in"), "-o", path("out"), test_plugin("thru")}, "",
                    {{"LSAN_OPTIONS", std::string("suppressions=") + TONBRIX_SOURCE_DIR +
                                          "/tests/lsan.supp:print_suppressions=0"}});
        if (c.outcome == Outcome::error) {
            EXPECT_EQ(r.status, 1) << c.label;
            EXPECT_EQ(r.err, c.err) << c.label;
            EXPECT_FALSE(file_exists(path("out"))) << c.label;
            continue;
        }
        EXPECT_EQ(r.status, 0) << c.label;
        EXPECT_EQ(r.err, "") << c.label;
        Sound in;
        Sound out;
        ASSERT_TRUE(readable(path("in"), in)) << c.label;
        ASSERT_TRUE(readable(path("out"), out)) << c.label;
        EXPECT_EQ(out.channels, in.channels) << c.label;
        EXPECT_EQ(out.format, in.format) << c.label;
        if (c.outcome == Outcome::exact) {
            EXPECT_EQ(out.frames(), c.frames) << c.label;
            EXPECT_EQ(out.samples, in.samples) << c.label;
        } else {
            EXPECT_GT(out.frames(), 1000) << c.label;
            EXPECT_LE(out.frames(), 220500) << c.label;
        }
    }
    for (const std::string& name : folder_entries(dir_)) {
        EXPECT_NE(name[0], '.') << "left behind: " << name;
    }
}
