#!/usr/bin/env bash
# Before and after: two tonbrix binaries and ffmpeg's lv2 filter in one
# hyperfine run per case, so that the ratios share the machine's load.
# Uses the inputs bench/run.sh and bench/pipeline.sh make (run them once).
# Writes bench/results/engine.md.
#
#   bench/engine.sh BEFORE AFTER
# Environment: RUNS (default 10, after 2 warm-up runs).
set -eu
set -o pipefail

bench=$(cd "$(dirname "$0")" && pwd)
data="$bench/data"
out="$data/out"
results="$bench/results"
RUNS=${RUNS:-10}
[ $# -eq 2 ] || { echo "usage: bench/engine.sh BEFORE AFTER" >&2; exit 2; }
mkdir -p "$out" "$results"
cp "$1" "$data/tonbrix-before"
cp "$2" "$data/tonbrix-after"
before="$data/tonbrix-before"
after="$data/tonbrix-after"
for f in mono-10min.wav stereo-10min.wav stereo-10min.flac; do
    [ -f "$data/$f" ] || { echo "bench/engine.sh: $data/$f is missing: run bench/run.sh and bench/pipeline.sh first" >&2; exit 1; }
done

AMP=http://lv2plug.in/plugins/eg-amp
STEREO=http://drobilla.net/plugins/mda/Stereo
EQ=http://lsp-plug.in/plugins/lv2/para_equalizer_x32_mono
ff_uri() { printf '%s' "$1" | sed 's/:/\\\\\\:/g'; }

# case NAME INPUT OUTPUT-EXTENSION FFMPEG-CODEC TONBRIX-ARGS FFMPEG-FILTER
run_case() {
    local name=$1 input=$2 ext=$3 codec=$4 args=$5 filter=$6
    hyperfine --warmup 2 --runs "$RUNS" --style basic --export-markdown "$results/engine-$name.md" \
        -n before "'$before' -i '$data/$input' -o '$out/$name.before.$ext' $args" \
        -n after "'$after' -i '$data/$input' -o '$out/$name.after.$ext' $args" \
        -n ffmpeg "ffmpeg -nostdin -hide_banner -loglevel error -y -i '$data/$input' -af '$filter' -c:a $codec '$out/$name.ffmpeg.$ext'"
    cmp "$out/$name.before.$ext" "$out/$name.after.$ext" || echo "$name: before and after differ" >&2
}
run_case eg-amp mono-10min.wav wav pcm_s16le "-b 512 -p gain:-6 $AMP" "lv2=p=$(ff_uri $AMP):c=gain=-6"
run_case mda-stereo stereo-10min.wav wav pcm_s16le "-b 512 $STEREO" "lv2=p=$(ff_uri $STEREO)"
run_case flac stereo-10min.flac flac "flac -sample_fmt s16" "$STEREO" "lv2=p=$(ff_uri $STEREO)"
hyperfine --warmup 1 --runs "$RUNS" --style basic --export-markdown "$results/engine-eq-jobs.md" \
    -n before-j2 "'$before' -j 2 -i '$data/stereo-10min.wav' -o '$out/eq.before.j2.wav' $EQ" \
    -n before-j1 "'$before' -j 1 -i '$data/stereo-10min.wav' -o '$out/eq.before.j1.wav' $EQ" \
    -n after-j2 "'$after' -j 2 -i '$data/stereo-10min.wav' -o '$out/eq.after.j2.wav' $EQ" \
    -n after-j1 "'$after' -j 1 -i '$data/stereo-10min.wav' -o '$out/eq.after.j1.wav' $EQ"
rss() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1; }
{
    echo "| binary | mda Stereo, 10-min WAV | 10-min FLAC |"
    echo "|---|---:|---:|"
    for b in before after; do
        bin="$data/tonbrix-$b"
        echo "| $b | $(rss "$bin" -q -i "$data/stereo-10min.wav" -o "$out/rss.wav" $STEREO) KiB | $(rss "$bin" -q -i "$data/stereo-10min.flac" -o "$out/rss.flac" $STEREO) KiB |"
    done
} > "$results/engine-rss.md"
cat "$results"/engine-*.md > "$results/engine.md"
cat "$results/engine.md"
