#!/usr/bin/env bash
# Wall-time and peak-memory benchmark of tonbrix against two other LV2 file
# processors, ffmpeg's lv2 audio filter and lv2proc, on the same input files,
# the same plugins and the same control values.  See bench/README.md.
#
# Environment (all optional):
#   TONBRIX     tonbrix binary to measure      (default: <repo>/build/tonbrix)
#   RUNS        timed runs per command          (default: 10, after 1 warm-up run)
#   GAIN        eg-amp gain in dB, for all tools (default: -6)
#   BLOCK       frames per plugin run for tonbrix and lv2proc (default: 512)
#   WAIT_SECS   how long to wait for a missing TONBRIX binary (default: 300)
#   SNAPSHOT    1 (default): copy TONBRIX into bench/data/ first, so that a
#               rebuild running at the same time cannot swap or remove the
#               binary in the middle of the measurements; 0: use it in place
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
GAIN=${GAIN:--6}
BLOCK=${BLOCK:-512}
WAIT_SECS=${WAIT_SECS:-300}
SNAPSHOT=${SNAPSHOT:-1}
SKIP_INSTALL=${SKIP_INSTALL:-0}

AMP=http://lv2plug.in/plugins/eg-amp
STEREO=http://drobilla.net/plugins/mda/Stereo
RATE=48000

log() { printf '== %s\n' "$*" >&2; }
die() { printf 'bench/run.sh: %s\n' "$*" >&2; exit 1; }

# ---------------------------------------------------------------- packages
install_missing() {
    local p missing=""
    for p in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
            missing="$missing $p"
        fi
    done
    [ -z "$missing" ] && return 0
    [ "$SKIP_INSTALL" = 1 ] && die "missing Debian packages:$missing (SKIP_INSTALL=1)"
    log "installing:$missing"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -qq
    # shellcheck disable=SC2086
    $sudo apt-get install -y -qq --no-install-recommends $missing >/dev/null
}

needed="hyperfine ffmpeg lv2proc mda-lv2 lv2-examples sox time"
command -v python3 >/dev/null 2>&1 || needed="$needed python3"
# shellcheck disable=SC2086
install_missing $needed

# ---------------------------------------------------------------- tonbrix
waited=0
while [ ! -x "$TONBRIX" ]; do
    [ "$waited" -ge "$WAIT_SECS" ] &&
        die "no executable at $TONBRIX after ${WAIT_SECS}s (build it with 'make build', or set TONBRIX)"
    [ "$waited" -eq 0 ] && log "waiting for $TONBRIX (a build may be running)"
    sleep 5
    waited=$((waited + 5))
done
mkdir -p "$data" "$out" "$results"
if [ "$SNAPSHOT" = 1 ]; then
    # Copy to a temporary name first: a half-written binary must never be used.
    snap="$data/tonbrix"
    tries=0
    # (tonbrix --list exits with status 1 after listing: look at what it lists.)
    works() { { "$1" --list 2>/dev/null || true; } | grep -qF "$AMP"; }
    until cp "$TONBRIX" "$snap.tmp" 2>/dev/null && works "$snap.tmp"; do
        tries=$((tries + 1))
        [ "$tries" -ge 12 ] && die "could not take a working copy of $TONBRIX"
        sleep 5
    done
    mv -f "$snap.tmp" "$snap"
    tb="$snap"
else
    tb="$TONBRIX"
fi
tb_sum=$(sha256sum "$tb" | cut -c1-16)

# ---------------------------------------------------------------- input files
# make_input FILE SECONDS CHANNELS: reproducible (sox -R), 48 kHz, 16-bit.
# Mono: pink noise at -12 dBFS peak.  Stereo: pink noise left, 440 Hz sine right.
make_input() {
    local file=$1 secs=$2 ch=$3
    if [ -f "$file" ] && [ "$(soxi -s "$file" 2>/dev/null || echo 0)" = $((secs * RATE)) ] &&
        [ "$(soxi -c "$file")" = "$ch" ] && [ "$(soxi -b "$file")" = 16 ]; then
        return 0
    fi
    log "making $file"
    if [ "$ch" = 1 ]; then
        sox -R -n -r "$RATE" -b 16 -c 1 -e signed-integer "$file.tmp.wav" synth "$secs" pinknoise vol 0.25
    else
        sox -R -n -r "$RATE" -b 16 -c 2 -e signed-integer "$file.tmp.wav" synth "$secs" pinknoise sine 440 vol 0.25
    fi
    mv -f "$file.tmp.wav" "$file"
}
make_input "$data/mono-1min.wav" 60 1
make_input "$data/mono-10min.wav" 600 1
make_input "$data/stereo-1min.wav" 60 2
make_input "$data/stereo-10min.wav" 600 2

# ---------------------------------------------------------------- commands
# ffmpeg's filter-graph syntax needs the ':' of a URI escaped twice.
ff_uri() { printf '%s' "$1" | sed 's/:/\\\\\\:/g'; }

# cmd TOOL CASE IN OUT: prints the shell command line of one tool for one case.
cmd() {
    local tool=$1 case=$2 in=$3 o=$4 uri tb_p="" ff_c="" lp_c=""
    if [ "$case" = amp ]; then
        uri=$AMP
        tb_p="-p gain:$GAIN "
        ff_c=":c=gain=$GAIN"
        lp_c="-c gain:$GAIN "
    else
        uri=$STEREO
    fi
    case $tool in
    tonbrix) printf "'%s' -i '%s' -o '%s' %s-b %s %s" "$tb" "$in" "$o" "$tb_p" "$BLOCK" "$uri" ;;
    ffmpeg) printf "ffmpeg -nostdin -hide_banner -loglevel error -y -i '%s' -af 'lv2=p=%s%s' -c:a pcm_s16le '%s'" \
        "$in" "$(ff_uri "$uri")" "$ff_c" "$o" ;;
    lv2proc) printf "lv2proc -i '%s' -o '%s' -n %s %s%s" "$in" "$o" "$BLOCK" "$lp_c" "$uri" ;;
    esac
}

tools="tonbrix ffmpeg lv2proc"

# check_output IN OUT: the output is a 16-bit signed PCM WAV with the
# channel count, rate and length of the input.
check_output() {
    local in=$1 o=$2
    [ -s "$o" ] || die "no output $o"
    [ "$(soxi -t "$o")" = wav ] || die "$o is not WAV"
    [ "$(soxi -b "$o")" = 16 ] || die "$o is not 16-bit"
    soxi -e "$o" | grep -q "Signed Integer PCM" || die "$o is not signed-integer PCM"
    [ "$(soxi -r "$o")" = "$(soxi -r "$in")" ] || die "$o: rate differs from input"
    [ "$(soxi -c "$o")" = "$(soxi -c "$in")" ] || die "$o: channel count differs from input"
    [ "$(soxi -s "$o")" = "$(soxi -s "$in")" ] || die "$o: length $(soxi -s "$o") != input $(soxi -s "$in")"
}

# ---------------------------------------------------------------- environment
load_now() { cut -d' ' -f1-3 /proc/loadavg; }
# top_sample: one 2-second top sample, "command %cpu" for each process using
# at least 10% of a core, other than the tools measured here.
top_sample() {
    command -v top >/dev/null 2>&1 || return 0
    top -b -n 2 -d 2 -w 200 2>/dev/null | awk '
        /^top -/ { n++ }
        n == 2 && $1 ~ /^[0-9]+$/ && $9 + 0 >= 10 &&
            $12 !~ /^(tonbrix|ffmpeg|lv2proc|hyperfine|sh|top|time|python3)$/ { print $12, $9 }'
}
busy() { top_sample | tr '\n' ' '; }
# While timing, a background sampler records other CPU users, so that the
# figures can be read knowing what else ran on the machine's cores.
sampler_pid=""
start_sampler() {
    : >"$out/other-cpu.txt"
    (while :; do top_sample >>"$out/other-cpu.txt"; done) &
    sampler_pid=$!
}
stop_sampler() {
    if [ -n "$sampler_pid" ]; then
        kill "$sampler_pid" 2>/dev/null || true
        wait "$sampler_pid" 2>/dev/null || true
        sampler_pid=""
    fi
}
trap stop_sampler EXIT
{
    echo "# Environment"
    echo
    echo "- date: $(date -u '+%Y-%m-%d %H:%M:%S UTC')"
    echo "- tonbrix: \`$TONBRIX\` (measured copy: \`$tb\`, sha256 $tb_sum…)"
    echo "- repository: $(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo '?')$(git -C "$root" diff --quiet HEAD -- src 2>/dev/null || echo ' (src/ has uncommitted changes)')"
    echo "- ffmpeg: $(ffmpeg -hide_banner -version | head -1)"
    echo "- lv2proc: $(lv2proc --version | head -1)"
    echo "- hyperfine: $(hyperfine --version)"
    echo "- libsndfile: $(dpkg-query -W -f='${Version}' libsndfile1 2>/dev/null || echo '?')"
    echo "- CPU: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
    echo "- block size (tonbrix -b, lv2proc -n): $BLOCK; ffmpeg uses the frames its WAV demuxer delivers"
    echo "- runs: $RUNS timed after 1 warm-up, per command"
    echo "- load average before: $(load_now); busy processes: $(busy)"
} >"$results/environment.md"

# ---------------------------------------------------------------- timing
start_sampler
declare -A case_in=([amp]="$data/mono-10min.wav" [stereo]="$data/stereo-10min.wav")
declare -A case_name=([amp]="eg-amp-mono-10min" [stereo]="mda-stereo-stereo-10min")
declare -A case_title=([amp]="eg-amp (gain $GAIN dB) on a 10-minute 48 kHz 16-bit mono WAV"
    [stereo]="mda Stereo (default controls) on a 10-minute 48 kHz 16-bit stereo WAV")

for c in amp stereo; do
    in=${case_in[$c]}
    name=${case_name[$c]}
    # One checked run of each tool before timing it.
    for t in $tools; do
        o="$out/$name.$t.wav"
        rm -f "$o"
        sh -c "$(cmd "$t" "$c" "$in" "$o")" >/dev/null 2>"$out/$name.$t.log" ||
            die "$t failed on $name: $(tail -3 "$out/$name.$t.log")"
        check_output "$in" "$o"
    done
    log "timing ${case_title[$c]}"
    args=()
    for t in $tools; do
        args+=(-n "$t" "$(cmd "$t" "$c" "$in" "$out/$name.$t.wav")")
    done
    hyperfine --warmup 1 --runs "$RUNS" --style basic \
        --export-markdown "$results/$name.md" --export-json "$results/$name.json" \
        "${args[@]}"
    for t in $tools; do
        printf '%s\n' "$(cmd "$t" "$c" "$in" "$out/$name.$t.wav")"
    done >"$results/$name.commands.txt"
    # The outputs of the timed runs are still there: check them again.
    for t in $tools; do check_output "$in" "$out/$name.$t.wav"; done
done
stop_sampler
{
    echo "- load average after timing: $(load_now)"
    printf -- "- other processes seen using >= 10%% of a core while timing (2 s samples; name: samples, peak %%):"
    awk '{ c[$1]++; if ($2 + 0 > m[$1]) m[$1] = $2 + 0 } END { for (k in c) printf " %s: %d, %.0f%%;", k, c[k], m[k] }' "$out/other-cpu.txt"
    echo " ($(wc -l <"$out/other-cpu.txt") samples above threshold)"
} >>"$results/environment.md"

# ---------------------------------------------------------------- agreement
log "comparing outputs"
{
    echo "# Do the outputs agree?"
    echo
    echo "Sample-by-sample comparison of the 10-minute outputs (bench/wavdiff.py; 1 LSB = 1/32768)."
    echo
    echo "| case | tonbrix vs | result |"
    echo "|---|---|---|"
    for c in amp stereo; do
        name=${case_name[$c]}
        for t in ffmpeg lv2proc; do
            r=$(python3 "$bench/wavdiff.py" "$out/$name.tonbrix.wav" "$out/$name.$t.wav") || true
            echo "| $name | $t | $r |"
        done
        r=$(python3 "$bench/wavdiff.py" "$out/$name.ffmpeg.wav" "$out/$name.lv2proc.wav") || true
        echo "| $name | (ffmpeg vs lv2proc) | $r |"
    done
} >"$results/agreement.md"

# ---------------------------------------------------------------- peak memory
rss_kb() { # rss_kb COMMAND: max RSS in KiB of one run under GNU time
    local f
    f=$(mktemp)
    /usr/bin/time -v -o "$f" sh -c "$1" >/dev/null 2>&1 || { rm -f "$f"; die "failed under time: $1"; }
    sed -n 's/^[[:space:]]*Maximum resident set size (kbytes): //p' "$f"
    rm -f "$f"
}
log "measuring peak memory"
{
    echo "# Peak memory (maximum resident set size, GNU time -v)"
    echo
    echo "One run each; KiB. The 10-minute input is 10x the 1-minute one"
    echo "(mono: 5.5 MiB vs 55 MiB of 16-bit samples; stereo: 11 MiB vs 110 MiB)."
    echo
    echo "| case | tool | 1 min | 10 min |"
    echo "|---|---|---:|---:|"
    for c in amp stereo; do
        for t in $tools; do
            ch=mono
            [ "$c" = stereo ] && ch=stereo
            a=$(rss_kb "$(cmd "$t" "$c" "$data/$ch-1min.wav" "$out/rss-1min.$t.wav")")
            b=$(rss_kb "$(cmd "$t" "$c" "$data/$ch-10min.wav" "$out/rss-10min.$t.wav")")
            echo "| ${case_name[$c]%-10min} | $t | $a | $b |"
        done
    done
} >"$results/max-rss.md"
rm -f "$out"/rss-*.wav

# ---------------------------------------------------------------- summary
python3 - "$results" "${case_name[amp]}" "${case_name[stereo]}" >"$results/summary.md" <<'EOF'
import json, sys, os
results, names = sys.argv[1], sys.argv[2:]
print("# Summary\n")
print("Wall time, mean ± standard deviation over the timed runs. Ratio: tonbrix mean / fastest peer mean (< 1: tonbrix is faster).\n")
print("| case | tonbrix | ffmpeg lv2 | lv2proc | tonbrix / fastest peer |")
print("|---|---:|---:|---:|---:|")
for n in names:
    with open(os.path.join(results, n + ".json")) as f:
        r = {x["command"]: x for x in json.load(f)["results"]}
    cell = lambda t: f"{r[t]['mean']:.3f} ± {r[t]['stddev']:.3f} s"
    peer = min(("ffmpeg", "lv2proc"), key=lambda t: r[t]["mean"])
    print(f"| {n} | {cell('tonbrix')} | {cell('ffmpeg')} | {cell('lv2proc')} | "
          f"{r['tonbrix']['mean'] / r[peer]['mean']:.2f} (vs {peer}) |")
EOF
{
    echo
    echo "Commands (hyperfine names: tonbrix, ffmpeg, lv2proc, in this order):"
    for n in "${case_name[amp]}" "${case_name[stereo]}"; do
        echo
        echo "$n:"
        echo
        echo '```'
        cat "$results/$n.commands.txt"
        echo '```'
    done
    echo
    cat "$results/max-rss.md" | sed 's/^# /## /'
    echo
    cat "$results/agreement.md" | sed 's/^# /## /'
    echo
    cat "$results/environment.md" | sed 's/^# /## /'
} >>"$results/summary.md"

log "done: $results/summary.md"
cat "$results/summary.md"
