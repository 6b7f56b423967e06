#!/usr/bin/env bash
# Notes cost nothing: every tonbrix command of the benchmarks, as users type
# it (no -q) and with -q, in one hyperfine call per case so that both see
# the same load. Writes bench/results/quiet.md with wall and CPU time and
# the ratio of each pair (target: within 5%). See README.md.
#
# Environment (all optional):
#   TONBRIX      tonbrix binary to measure (default: <repo>/build/tonbrix)
#   RUNS         timed runs per command    (default: 5, after 1 warm-up run)
#   CASES        the cases to run, names separated by commas (default: all)
set -eu
set -o pipefail

bench=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$bench/.." && pwd)
data="$bench/data"
out="$data/out"
results="$bench/results"
TONBRIX=${TONBRIX:-"$root/build/tonbrix"}
RUNS=${RUNS:-5}
RATE=48000

AMP=http://lv2plug.in/plugins/eg-amp
STEREO=http://drobilla.net/plugins/mda/Stereo
EQ_MONO=http://lsp-plug.in/plugins/lv2/para_equalizer_x32_mono
EQ=http://lsp-plug.in/plugins/lv2/para_equalizer_x32_stereo
COMP=http://lsp-plug.in/plugins/lv2/compressor_stereo
LIM=http://lsp-plug.in/plugins/lv2/limiter_stereo

log() { printf '== %s\n' "$*" >&2; }
die() { printf 'bench/quiet.sh: %s\n' "$*" >&2; exit 1; }

[ -x "$TONBRIX" ] || die "no executable at $TONBRIX (build it with 'make build')"
for tool in hyperfine sox flac; do
    command -v "$tool" >/dev/null || die "$tool is missing (the other bench scripts install it)"
done
mkdir -p "$data" "$out" "$results" "$data/quiet-folder"
tb="$data/tonbrix-quiet"
cp "$TONBRIX" "$tb"

# make FILE SECONDS CHANNELS: reproducible 48 kHz 16-bit pink noise (and a sine).
make() {
    local file=$1 secs=$2 channels=$3
    if [ -f "$file" ] && [ "$(soxi -s "$file" 2>/dev/null || echo 0)" = $((secs * RATE)) ]; then
        return 0
    fi
    log "making $file"
    if [ "$channels" = 2 ]; then
        sox -R -n -r "$RATE" -b 16 -c 2 -e signed-integer "$file.tmp.wav" synth "$secs" pinknoise sine 440 vol 0.25
    else
        sox -R -n -r "$RATE" -b 16 -c 1 -e signed-integer "$file.tmp.wav" synth "$secs" pinknoise vol 0.25
    fi
    mv -f "$file.tmp.wav" "$file"
}
make "$data/stereo-10min.wav" 600 2
make "$data/mono-10min.wav" 600 1
[ -f "$data/stereo-10min.flac" ] || flac -s -f -o "$data/stereo-10min.flac" "$data/stereo-10min.wav"
for i in 1 2 3 4 5 6; do
    make "$data/quiet-folder/clip$i.wav" 60 2
done

stereo="$data/stereo-10min.wav"
# name|arguments after the binary (the output is added)|output extension
cases=(
    "eg-amp mono|-i '$data/mono-10min.wav' -p gain:-6 -b 512 $AMP|wav"
    "mda stereo|-i '$stereo' $STEREO|wav"
    "flac mda stereo|-i '$data/stereo-10min.flac' $STEREO|flac"
    "chain -j 2|-j 2 -i '$stereo' $EQ --then $COMP --then $LIM|wav"
    "chain -j 1|-j 1 -i '$stereo' $EQ --then $COMP --then $LIM|wav"
    "eq mono -j 2|-j 2 -i '$stereo' $EQ_MONO|wav"
    "eq mono -j 1|-j 1 -i '$stereo' $EQ_MONO|wav"
    "loudness|-i '$stereo' --loudness=-16 $STEREO|wav"
    "folder|-i '$data/quiet-folder' $AMP|dir"
)

table="$results/quiet.md"
{
    echo "# Runs without -q against runs with it"
    echo
    echo "$(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, load average at the start $(cut -d' ' -f1-3 /proc/loadavg)"
    echo
    echo "| case | without -q | with -q | ratio | CPU without | CPU with |"
    echo "|---|---|---|---|---|---|"
} >"$table"
for entry in "${cases[@]}"; do
    IFS='|' read -r name args ext <<<"$entry"
    if [ -n "${CASES:-}" ] && ! tr ',' '\n' <<<"$CASES" | grep -qxF "$name"; then
        continue
    fi
    slug=$(printf '%s' "$name" | tr -c 'a-z0-9' '-')
    if [ "$ext" = dir ]; then
        target="$out/quiet-$slug"
        prepare="rm -rf '$target'"
    else
        target="$out/quiet-$slug.$ext"
        prepare="rm -f '$target'"
    fi
    log "$name"
    hyperfine --warmup 1 --runs "$RUNS" --style basic --prepare "$prepare" \
        --export-json "$results/quiet-$slug.json" \
        -n "without -q" "'$tb' $args -o '$target'" \
        -n "with -q" "'$tb' -q $args -o '$target'" >&2
    python3 - "$name" "$results/quiet-$slug.json" >>"$table" <<'PY'
import json, sys
r = {x["command"]: x for x in json.load(open(sys.argv[2]))["results"]}
a, b = r["without -q"], r["with -q"]
print("| %s | %.2f ± %.2f s | %.2f ± %.2f s | %.3f | %.2f s | %.2f s |" % (
    sys.argv[1], a["mean"], a["stddev"], b["mean"], b["stddev"], a["mean"] / b["mean"],
    a["user"] + a["system"], b["user"] + b["system"]))
PY
done
echo >>"$table"
echo "Load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)" >>"$table"
cat "$table"
