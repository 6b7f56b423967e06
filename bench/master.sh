#!/usr/bin/env bash
# Benchmark of the last steps of a master against ffmpeg: --loudness=-16
# (plugins, measurement with true peak, the scaled output) against ffmpeg's
# measurement alone (ebur128=peak=true) and its two-pass loudnorm, and
# --output-rate=44100 against the same run without it and against ffmpeg
# doing the plugin and the conversion in one command. All on a 10-minute
# 48 kHz stereo WAV through mda Stereo. Prints a Markdown table with the
# load average beside it. See bench/README.md.
#
# Environment (all optional):
#   TONBRIX  tonbrix binary to measure (default: <repo>/build/tonbrix)
#   RUNS     timed runs per command (default: 5, after 1 warm-up run)
set -eu
set -o pipefail

bench=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$bench/.." && pwd)
data="$bench/data"
out="$data/out"
TONBRIX=${TONBRIX:-"$root/build/tonbrix"}
RUNS=${RUNS:-5}
STEREO=http://drobilla.net/plugins/mda/Stereo

for tool in hyperfine ffmpeg sox jq; do
    command -v "$tool" >/dev/null 2>&1 || { echo "bench/master.sh: $tool is missing" >&2; exit 1; }
done
[ -x "$TONBRIX" ] || { echo "bench/master.sh: no $TONBRIX" >&2; exit 1; }
mkdir -p "$data" "$out"
# A snapshot, so that a rebuild cannot swap the binary during the runs.
tb="$data/tonbrix-master"
cp "$TONBRIX" "$tb"

# Ten minutes of stereo at 48 kHz: pink noise with a slow loudness
# swell (tremolo), 24-bit.
input="$data/stereo-10min-48k.wav"
if [ ! -f "$input" ]; then
    sox -n -r 48000 -c 2 -b 24 "$input" synth 600 pinknoise \
        tremolo 0.05 60 gain -12
fi

ff_uri() { printf '%s' "$1" | sed 's/:/\\\\\\:/g'; }

# ffmpeg's two-pass loudnorm as people run it: measure, then normalise
# linearly with the measured values.
cat > "$data/loudnorm.sh" <<'SCRIPT'
#!/usr/bin/env bash
set -eu
in=$1 out=$2
m=$(ffmpeg -nostdin -hide_banner -nostats -i "$in" -af loudnorm=I=-16:TP=-1:LRA=20:print_format=json \
    -f null - 2>&1 | sed -n '/^{/,/^}/p')
get() { printf '%s' "$m" | jq -r ".$1"; }
ffmpeg -nostdin -hide_banner -loglevel error -y -i "$in" -af \
    "loudnorm=I=-16:TP=-1:LRA=20:linear=true:measured_I=$(get input_i):measured_TP=$(get input_tp):measured_LRA=$(get input_lra):measured_thresh=$(get input_thresh):offset=$(get target_offset),aresample=48000" \
    -c:a pcm_s24le "$out"
SCRIPT
chmod +x "$data/loudnorm.sh"

export_json="$data/master.json"
hyperfine --warmup 1 --runs "$RUNS" --export-json "$export_json" \
    -n "tonbrix --loudness=-16" \
    "'$tb' -i '$input' -o '$out/loud.wav' --loudness=-16 $STEREO" \
    -n "ffmpeg ebur128=peak=true (measure only)" \
    "ffmpeg -nostdin -hide_banner -nostats -i '$input' -af ebur128=peak=true -f null - 2>/dev/null" \
    -n "ffmpeg loudnorm two passes" \
    "'$data/loudnorm.sh' '$input' '$out/loudnorm.wav'" \
    -n "tonbrix plain" \
    "'$tb' -i '$input' -o '$out/plain.wav' $STEREO" \
    -n "tonbrix --output-rate=44100" \
    "'$tb' -i '$input' -o '$out/rate.wav' --output-rate=44100 $STEREO" \
    -n "ffmpeg lv2 + aresample soxr" \
    "ffmpeg -nostdin -hide_banner -loglevel error -y -i '$input' -af 'lv2=p=$(ff_uri "$STEREO"),aresample=44100:resampler=soxr:precision=28' -c:a pcm_s24le '$out/ffrate.wav'" \
    >&2

echo "Load average while measuring: $(uptime | sed 's/.*load average: //')"
echo
python3 - "$export_json" <<'PY'
import json, sys
r = {x["command"]: x for x in json.load(open(sys.argv[1]))["results"]}
def cell(n):
    x = r[n]
    return f'{x["mean"]:.2f} ± {x["stddev"]:.2f} s (CPU {x["user"] + x["system"]:.2f} s)'
print("| command | wall time (CPU) |")
print("|---|---|")
for n in r:
    print(f"| {n} | {cell(n)} |")
m = lambda n: r[n]["mean"]
print()
print("| ratio | measured | goal |")
print("|---|---|---|")
print(f'| --loudness / ffmpeg ebur128 measure | {m("tonbrix --loudness=-16") / m("ffmpeg ebur128=peak=true (measure only)"):.2f} | ≤ 1 |')
print(f'| --loudness / ffmpeg loudnorm two passes | {m("tonbrix --loudness=-16") / m("ffmpeg loudnorm two passes"):.2f} | ≤ 0.2 |')
print(f'| --output-rate / plain run | {m("tonbrix --output-rate=44100") / m("tonbrix plain"):.2f} | ≤ 1.3 |')
print(f'| --output-rate / ffmpeg lv2 + aresample | {m("tonbrix --output-rate=44100") / m("ffmpeg lv2 + aresample soxr"):.2f} | ≤ 0.5 |')
PY
