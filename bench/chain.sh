#!/usr/bin/env bash
# Chain benchmark: LSP's 32-band equaliser, compressor and limiter (stereo,
# defaults) in one tonbrix run against ffmpeg's filter graph of the same
# three plugins, -j 2 against -j 1, and raw float pipes of single tonbrix
# runs between two sox processes; then peak memory over a 1- and a
# 10-minute file. All times in one hyperfine run. Writes
# bench/results/chain.md. See README.md.
#
# Environment (all optional):
#   TONBRIX      tonbrix binary to measure (default: <repo>/build/tonbrix)
#   RUNS         timed runs per command    (default: 5, after 1 warm-up run)
#   SKIP_INSTALL 1: do not install missing Debian packages
set -eu
set -o pipefail

bench=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$bench/.." && pwd)
data="$bench/data"
out="$data/out"
results="$bench/results"
TONBRIX=${TONBRIX:-"$root/build/tonbrix"}
RUNS=${RUNS:-5}
SKIP_INSTALL=${SKIP_INSTALL:-0}

EQ=http://lsp-plug.in/plugins/lv2/para_equalizer_x32_stereo
COMP=http://lsp-plug.in/plugins/lv2/compressor_stereo
LIM=http://lsp-plug.in/plugins/lv2/limiter_stereo
RATE=48000

log() { printf '== %s\n' "$*" >&2; }
die() { printf 'bench/chain.sh: %s\n' "$*" >&2; exit 1; }

missing=""
for p in hyperfine ffmpeg lsp-plugins-lv2 sox time; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
    [ "$SKIP_INSTALL" = 1 ] && die "missing Debian packages:$missing"
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    export DEBIAN_FRONTEND=noninteractive
    # shellcheck disable=SC2086
    $sudo apt-get install -y -qq --no-install-recommends $missing >/dev/null
fi
[ -x "$TONBRIX" ] || die "no executable at $TONBRIX (build it with 'make build')"
mkdir -p "$data" "$out" "$results"
tb="$data/tonbrix-chain"
cp "$TONBRIX" "$tb"

# make_stereo FILE SECONDS: reproducible 48 kHz 16-bit stereo (pink noise, sine).
make_stereo() {
    local file=$1 secs=$2
    if [ -f "$file" ] && [ "$(soxi -s "$file" 2>/dev/null || echo 0)" = $((secs * RATE)) ]; then
        return 0
    fi
    log "making $file"
    sox -R -n -r "$RATE" -b 16 -c 2 -e signed-integer "$file.tmp.wav" synth "$secs" pinknoise sine 440 vol 0.25
    mv -f "$file.tmp.wav" "$file"
}
make_stereo "$data/stereo-10min.wav" 600
make_stereo "$data/stereo-1min.wav" 60
in="$data/stereo-10min.wav"

ff_uri() { printf '%s' "$1" | sed 's/:/\\\\\\:/g'; }
chain="$EQ --then $COMP --then $LIM"
raw="-r $RATE -n 2 -i - -o -"
pipe="sox '$in' -t f32 - | '$tb' --ignore-clipping $raw $EQ | '$tb' --ignore-clipping $raw $COMP | '$tb' $raw $LIM | sox -t f32 -r $RATE -c 2 - -b 16 '$out/chain.pipe.wav'"

log "the chain four ways, $RUNS runs each"
hyperfine --warmup 1 --runs "$RUNS" --style basic --export-json "$results/chain.json" \
    -n "tonbrix -j 2" "'$tb' -j 2 -i '$in' -o '$out/chain.j2.wav' $chain" \
    -n "tonbrix -j 1" "'$tb' -j 1 -i '$in' -o '$out/chain.j1.wav' $chain" \
    -n "ffmpeg" "ffmpeg -nostdin -hide_banner -loglevel error -y -i '$in' -af 'lv2=p=$(ff_uri $EQ),lv2=p=$(ff_uri $COMP),lv2=p=$(ff_uri $LIM)' -c:a pcm_s16le '$out/chain.ffmpeg.wav'" \
    -n "sox | tonbrix | tonbrix | tonbrix | sox" "$pipe"
cmp -s "$out/chain.j1.wav" "$out/chain.j2.wav" || die "-j 1 and -j 2 wrote different files"

# peak_kb FILE JOBS: the chain's peak resident memory in KiB.
peak_kb() {
    /usr/bin/time -f %M "$tb" -q -j "$2" -i "$1" -o "$out/chain.rss.wav" $chain 2>&1 >/dev/null | tail -n 1
}

{
    echo "# Chain: LSP para_equalizer_x32_stereo → compressor_stereo → limiter_stereo"
    echo
    echo "$(date -u +%Y-%m-%d), $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
    echo
    python3 - "$results/chain.json" <<'PY'
import json, sys
r = {x["command"]: x for x in json.load(open(sys.argv[1]))["results"]}
print("| command | mean | stddev | user | system |")
print("|---|---|---|---|---|")
for name, x in r.items():
    print("| %s | %.2f s | %.2f s | %.2f s | %.2f s |" % (name, x["mean"], x["stddev"], x["user"], x["system"]))
j2, j1 = r["tonbrix -j 2"]["mean"], r["tonbrix -j 1"]["mean"]
ff, pipe = r["ffmpeg"]["mean"], r["sox | tonbrix | tonbrix | tonbrix | sox"]["mean"]
print()
print("| ratio | value | target |")
print("|---|---|---|")
print("| tonbrix -j 2 / ffmpeg | %.2f | ≤ 0.5 |" % (j2 / ff))
print("| tonbrix -j 2 / tonbrix -j 1 | %.2f | ≤ 0.65 |" % (j2 / j1))
print("| tonbrix -j 2 / raw pipes | %.2f | ≤ 0.7 |" % (j2 / pipe))
PY
    echo
    echo "| peak RSS | 1 minute | 10 minutes |"
    echo "|---|---|---|"
    for jobs in 1 2; do
        echo "| -j $jobs | $(peak_kb "$data/stereo-1min.wav" $jobs) KiB | $(peak_kb "$in" $jobs) KiB |"
    done
} > "$results/chain.md"
cat "$results/chain.md"
