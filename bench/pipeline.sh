#!/usr/bin/env bash
# Threads benchmark: a compressed format end to end against ffmpeg's lv2
# filter, two heavy instances on one core and on two, and peak memory over a
# 10- and a 60-minute file. Writes bench/results/pipeline.md. See README.md.
#
# Environment (all optional):
#   TONBRIX      tonbrix binary to measure (default: <repo>/build/tonbrix)
#   RUNS         timed runs per command    (default: 10, after 1 warm-up run)
#   SKIP_INSTALL 1: do not install missing Debian packages
set -eu
set -o pipefail

bench=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$bench/.." && pwd)
data="$bench/data"
out="$data/out"
results="$bench/results"
TONBRIX=${TONBRIX:-"$root/build/tonbrix"}
RUNS=${RUNS:-10}
SKIP_INSTALL=${SKIP_INSTALL:-0}

STEREO=http://drobilla.net/plugins/mda/Stereo
EQ=http://lsp-plug.in/plugins/lv2/para_equalizer_x32_mono
RATE=48000

log() { printf '== %s\n' "$*" >&2; }
die() { printf 'bench/pipeline.sh: %s\n' "$*" >&2; exit 1; }

missing=""
for p in hyperfine ffmpeg mda-lv2 lsp-plugins-lv2 sox flac time; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
    [ "$SKIP_INSTALL" = 1 ] && die "missing Debian packages:$missing"
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -qq
    # shellcheck disable=SC2086
    $sudo apt-get install -y -qq --no-install-recommends $missing >/dev/null
fi
[ -x "$TONBRIX" ] || die "no executable at $TONBRIX (build it with 'make build')"
mkdir -p "$data" "$out" "$results"
tb="$data/tonbrix-pipeline"
cp "$TONBRIX" "$tb"

# make_stereo FILE SECONDS: reproducible 48 kHz 16-bit stereo (pink noise, sine).
make_stereo() {
    local file=$1 secs=$2
    if [ -f "$file" ] && [ "$(soxi -s "$file" 2>/dev/null || echo 0)" = $((secs * RATE)) ]; then
        return 0
    fi
    log "making $file"
    sox -R -n -r "$RATE" -b 16 -c 2 -e signed-integer "$file.tmp.${file##*.}" synth "$secs" pinknoise sine 440 vol 0.25
    mv -f "$file.tmp.${file##*.}" "$file"
}
make_stereo "$data/stereo-10min.wav" 600
make_stereo "$data/stereo-10min.flac" 600
make_stereo "$data/stereo-60min.wav" 3600

ff_uri() { printf '%s' "$1" | sed 's/:/\\\\\\:/g'; }

ratio() { # ratio JSON: both means and the first / the second
    python3 - "$1" <<'PY'
import json, sys
r = json.load(open(sys.argv[1]))["results"]
a, b = r[0], r[1]
print("%.3f ± %.3f s | %.3f ± %.3f s | %.2f" % (a["mean"], a["stddev"], b["mean"], b["stddev"], a["mean"] / b["mean"]))
PY
}

if [ "${SKIP_FLAC:-0}" != 1 ]; then
log "FLAC to FLAC through mda Stereo"
hyperfine --warmup 1 --runs "$RUNS" --style basic --export-json "$results/flac.json" \
    -n tonbrix "'$tb' -q -i '$data/stereo-10min.flac' -o '$out/flac.tonbrix.flac' $STEREO" \
    -n ffmpeg "ffmpeg -nostdin -hide_banner -loglevel error -y -i '$data/stereo-10min.flac' -af 'lv2=p=$(ff_uri $STEREO)' -c:a flac -sample_fmt s16 '$out/flac.ffmpeg.flac'"
fi

log "two instances of the 32-band equaliser, -j 2 against -j 1"
hyperfine --warmup 1 --runs "$RUNS" --style basic --export-json "$results/eq-jobs.json" \
    -n jobs-2 "'$tb' -j 2 -i '$data/stereo-10min.wav' -o '$out/eq.j2.wav' $EQ" \
    -n jobs-1 "'$tb' -j 1 -i '$data/stereo-10min.wav' -o '$out/eq.j1.wav' $EQ"
cmp -s "$out/eq.j1.wav" "$out/eq.j2.wav" || die "-j 1 and -j 2 outputs differ"

rss_kb() {
    local f
    f=$(mktemp)
    /usr/bin/time -v -o "$f" sh -c "$1" >/dev/null 2>&1 || { rm -f "$f"; die "failed under time: $1"; }
    sed -n 's/^[[:space:]]*Maximum resident set size (kbytes): //p' "$f"
    rm -f "$f"
}
log "peak memory"
rss10=$(rss_kb "'$tb' -q -i '$data/stereo-10min.wav' -o '$out/rss.wav' $STEREO")
rss60=$(rss_kb "'$tb' -q -i '$data/stereo-60min.wav' -o '$out/rss.wav' $STEREO")
rssflac=$(rss_kb "'$tb' -q -i '$data/stereo-10min.flac' -o '$out/rss.flac' $STEREO")
rm -f "$out/rss.wav" "$out/rss.flac"

{
    echo "# Threads"
    echo
    echo "- date: $(date -u '+%Y-%m-%d %H:%M UTC'); $(nproc) cores; load before: $(cut -d' ' -f1-3 /proc/loadavg)"
    echo "- tonbrix $(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo '?'), $RUNS runs after 1 warm-up"
    echo
    echo "| case | first | second | first / second |"
    echo "|---|---:|---:|---:|"
    echo "| stereo FLAC → FLAC, mda Stereo: tonbrix / ffmpeg | $(ratio "$results/flac.json") |"
    echo "| stereo WAV, para_equalizer_x32_mono (2 instances): -j 2 / -j 1 | $(ratio "$results/eq-jobs.json") |"
    echo
    echo "Peak RSS (KiB), mda Stereo: 10-minute WAV $rss10, 60-minute WAV $rss60, 10-minute FLAC $rssflac."
} >"$results/pipeline.md"
cat "$results/pipeline.md"
