#include "cli/help.h"

#include <tonbrix/sound_file.h>

#include <string>
#include <string_view>

namespace tonbrix::cli {

namespace {

// Written by hand within 80 columns; tests hold every line to that.
constexpr const char* help_text = R"(Usage:
  tonbrix -l|--list
  tonbrix -L|--list-presets PLUGIN
  tonbrix -n|--nameports PLUGIN
  tonbrix -i INPUT -o OUTPUT [OPTION]... PLUGIN
  tonbrix [-i INPUT] [-o OUTPUT] --midi=FILE|--midi-out=FILE [OPTION]... PLUGIN
  tonbrix -i FOLDER -o FOLDER | --batch=FILE [OPTION]... PLUGIN
  tonbrix [-i INPUT] [-o OUTPUT] --save-preset=LABEL [OPTION]... PLUGIN
  tonbrix -I|--info PLUGIN
  tonbrix -h|--help
  tonbrix -V|--version

Runs a sound file through an LV2 plugin and writes the plugin's audio outputs
to another file. PLUGIN is a plugin URI or its number in the --list output.

Modes:
  -l, --list              list the installed LV2 plugins, numbered
  -L, --list-presets      list the presets of PLUGIN ("Preset: label")
  -n, --nameports         list the audio and control input ports of PLUGIN
  -I, --info=PLUGIN       describe PLUGIN: every port with its range, unit and
                          scale points, the parameters, presets and features
      --json              print -l, -L, -n, -I and the report as one JSON
                          document on standard output; notes go to standard
                          error, and the listings end with 0
  -h, --help              print this help and exit
  -V, --version           print the versions of tonbrix, lilv and libsndfile

Processing options:
  -i FILE                 input sound file, any format libsndfile reads
  -o FILE                 output sound file; the input's format by default
  -r, --rate=N            sample rate of raw float data
  -n, --channels=N        channel count of raw float data; with both -r and -n
                          above 0, input and output are headerless 32-bit
                          floats and "-" means standard input or output
  -P, --preset=NAME       load the plugin preset with this label (or URI, or
                          the path of its bundle) first
  -p, --parameters=SYMBOL:VALUE[,...]
                          set control input ports; may be repeated, later
                          values win, also over a preset
  -c, --connect=CHANNEL:[INSTANCE.]PORT[,...]
                          connect file channels (from 1) to audio inputs of
                          plugin instances (from 1); may be repeated
  -s, --set=PARAMETER=VALUE
                          set a plugin parameter declared patch:writable; the
                          value is a file path for atom:Path parameters
  -b, --blocksize=N       frames per block (default 512, at most 1048576)
  -m, --mono              mix all channels into the input of a one-input plugin
      --ignore-clipping   do not check for clipping (slightly faster)
      --compensate-latency
                          remove the latency the plugin reports from the output
      --tail=SECONDS      feed SECONDS of silence to the plugin after the input
      --output-format=TYPE[:ENCODING]
                          output file type: wav wavex w64 rf64 aiff caf au flac
                          ogg raw; encoding: pcm16 pcm24 pcm32 float double
                          vorbis
      --report            print the values of the control outputs after the run
      --report-every=SECONDS
                          also print them every SECONDS of the run, each line
                          starting with its time in seconds
  -q, --quiet             print no notes and no progress line
  -j, --jobs=N            threads for the plugin instances and the FLAC encoder
                          (default: one per core)
      --then              run the output through the next plugin and its options

The last steps of the output:
      --output-rate=HZ    convert the output to HZ (libsoxr, very high quality)
      --plugin-rate=HZ    run the plugins at HZ: the input is converted to it
                          and the output back to the input's rate (or to
                          --output-rate)
      --loudness=LUFS     normalise the output to this integrated loudness
                          (EBU R128) by one gain, in one pass of the plugins
      --true-peak=DBTP    the true-peak ceiling of --loudness (default -1.0);
                          a gain held down by it is noted, nothing is limited
      --measure-loudness  print the output's integrated loudness, loudness
                          range and true peak (with --report, and in --json)
      --dither[=KIND]     add dither before the rounding to an integer
                          encoding shorter than 32 bits: triangular (TPDF,
                          the default) or shaped (noise-shaped TPDF)

Many files in one run:
  -i FOLDER -o FOLDER     run every sound file under FOLDER into the same path
                          under the output folder, which is made when missing;
                          hidden files are left out, other files skipped, and
                          an unreadable file named as a sound file fails
      --batch=FILE        run the jobs of FILE ("-": standard input), one a
                          line: INPUT<TAB>OUTPUT or a JSON object with "input",
                          "output" and optionally "parameters", "preset" and
                          "set", which act as if at the end of the line
  -j, --jobs=N            in a batch: worker processes (default: one per
                          core); a worker that crashes costs only its file
      --skip-existing     in a batch: skip the jobs whose output exists and is
                          not older than their input, to resume a run
  Messages of a file start with its input path; one line counts the files.
  Exit status 0 when every file was written or skipped.

Presets:
      --save-preset=LABEL save the plugin's state as a preset with this label:
                          its control values, -s values and what it learned;
                          after the run, or without -i and -o right after -P,
                          -p and -s; replaces the user's preset of that label
      --preset-dir=DIR    save presets in DIR instead of ~/.lv2
  With --then, --save-preset belongs to the plugin of its part.

Events over time:
      --midi=FILE         play a Standard MIDI File into the plugin's MIDI
                          input, each event at its exact frame
      --midi-out=FILE     write what the plugin sends to its MIDI output to a
                          Standard MIDI File
      --automate=SYMBOL:TIME=VALUE[,TIME=VALUE...]
                          move a control or CV input through these points
                          (seconds), set at the start of every block; may be
                          repeated, wins over -p and the preset
  A plugin without audio inputs needs no -i: the run lasts as long as the MIDI
  file and --tail, at -r N Hz (48000 by default). A plugin without audio
  outputs needs no -o, but --midi-out or --report.

A processing run shows its progress on standard error when that is a terminal.
Exit status: 0 on success, 1 on every error; --list and --nameports end with 1
unless --json is given. LV2_PATH, a list of folders that contain bundles,
separated by colons, replaces the standard places where plugins are looked for.

Examples:
  tonbrix --nameports http://lv2plug.in/plugins/eg-amp
  tonbrix -i in.wav -o out.wav -p gain:-6 http://lv2plug.in/plugins/eg-amp
  sox in.wav -t f32 - | tonbrix -r 48000 -n 1 -i - -o - \
      http://lv2plug.in/plugins/eg-amp | sox -t f32 -r 48000 -c 1 - out.wav
  tonbrix --midi=song.mid --tail=3 -o piano.wav \
      http://drobilla.net/plugins/mda/Piano
  tonbrix -i drums.wav --midi-out=kicks.mid --compensate-latency \
      http://gareus.org/oss/lv2/onsettrigger#bassdrum_mono
  tonbrix -i in.wav -o fade.wav --automate=gain:0=-30,2=0 \
      http://lv2plug.in/plugins/eg-amp
  tonbrix --save-preset="Quiet" -p gain:-12 http://lv2plug.in/plugins/eg-amp
)";

// The options whose value may come as the next argument.
bool takes_value(std::string_view arg)
{
    for (std::string_view option : {"-i", "-o", "-r", "-n", "-P", "-p", "-c", "-b", "-s", "-j",
                                    "--rate", "--channels", "--preset", "--parameters",
                                    "--connect", "--blocksize", "--set", "--jobs", "--tail",
                                    "--output-format", "-I", "--info", "--report-every",
                                    "--midi", "--midi-out", "--automate", "--batch",
                                    "--save-preset", "--preset-dir"}) {
        if (arg == option) {
            return true;
        }
    }
    return false;
}

} // namespace

InfoRequest find_info_request(int argc, char** argv)
{
    InfoRequest request = InfoRequest::none;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg(argv[i]);
        if (arg == "--") {
            break;
        }
        if (arg == "-h" || arg == "--help") {
            return InfoRequest::help;
        }
        if (arg == "-V" || arg == "--version") {
            request = InfoRequest::version;
        } else if (takes_value(arg)) {
            ++i;
        }
    }
    return request;
}

void print_help(std::FILE* stream)
{
    std::fputs(help_text, stream);
}

void print_version(std::FILE* stream)
{
    // The library gives "libsndfile-X.Y.Z".
    const std::string version = sndfile_version();
    std::string_view sndfile(version);
    constexpr std::string_view prefix = "libsndfile-";
    if (sndfile.starts_with(prefix)) {
        sndfile.remove_prefix(prefix.size());
    }
    const std::string text = std::string("tonbrix " TONBRIX_VERSION "\nlilv " TONBRIX_LILV_VERSION
                                         "\nlibsndfile ") +
                             std::string(sndfile) + "\n";
    std::fputs(text.c_str(), stream);
}

} // namespace tonbrix::cli
