#!/usr/bin/env bash
# Many short files: tonbrix on a folder against the README's GNU parallel
# recipe (one tonbrix per file, -j 1, two at a time) and ffmpeg's lv2 filter
# (one process per file, two at a time), in one hyperfine run per plugin so
# that the ratios share the machine's load; then the peak memory of a folder
# run of 100 and of all the files. Writes bench/results/batch-*.md.
#
#   bench/batch.sh [TONBRIX]
# Environment: FILES (default 500), RUNS (default 3), WARMUP (default 1).
set -eu
set -o pipefail

bench=$(cd "$(dirname "$0")" && pwd)
tonbrix=$(realpath "${1:-$bench/../build/tonbrix}")
data="$bench/data/batch"
results="$bench/results"
FILES=${FILES:-500}
RUNS=${RUNS:-3}
WARMUP=${WARMUP:-1}
mkdir -p "$data/in" "$results"

# One-second stereo 16-bit WAVs at three rates in turn.
rates=(44100 48000 96000)
made=$(find "$data/in" -name '*.wav' | wc -l)
if [ "$made" -ne "$FILES" ]; then
    rm -rf "$data/in" && mkdir -p "$data/in"
    for ((i = 0; i < FILES; i++)); do
        sox -n -r "${rates[i % 3]}" -c 2 -b 16 "$data/in/$(printf 'clip%04d' "$i").wav" \
            synth 1 sine $((200 + i)) sine $((300 + i)) vol 0.5
    done
fi

ff_uri() { printf '%s' "$1" | sed 's/:/\\\\\\:/g'; }
export tonbrix
for plugin in http://lv2plug.in/plugins/eg-amp http://drobilla.net/plugins/mda/Stereo; do
    name=$(basename "$plugin")
    out="$data/out-$name"
    filter="lv2=p=$(ff_uri "$plugin")"
    mkdir -p "$out/parallel" "$out/ffmpeg"
    hyperfine --warmup "$WARMUP" --runs "$RUNS" --style basic --export-markdown "$results/batch-$name.md" \
        -n "tonbrix folder" "'$tonbrix' -i '$data/in' -o '$out/folder' '$plugin'" \
        -n "parallel, tonbrix -j 1" \
        "parallel -j 2 '$tonbrix' -j 1 -i {} -o '$out/parallel/{/}' '$plugin' ::: '$data'/in/*.wav" \
        -n "ffmpeg lv2, 2 at a time" \
        "ls '$data'/in/*.wav | xargs -P 2 -I{} sh -c 'ffmpeg -nostdin -hide_banner -loglevel error -y -i \"\$1\" -af \"$filter\" -c:a pcm_s16le \"$out/ffmpeg/\$(basename \"\$1\")\"' sh {}"
    # The folder run writes what one run per file writes.
    for f in "$data"/in/clip000[0-5].wav; do
        cmp "$out/folder/$(basename "$f")" "$out/parallel/$(basename "$f")" ||
            echo "$name: $(basename "$f") differs between the folder run and a run of its own" >&2
    done
done

# Peak memory of the whole run (the largest process: workers are forked).
rss() {
    local list=$1
    /usr/bin/time -f '%M' "$tonbrix" -q -j 2 --batch="$list" http://lv2plug.in/plugins/eg-amp 2>&1 >/dev/null | tail -1
}
ls "$data"/in/*.wav | head -100 | awk -v o="$data/rss" '{ n = split($0, p, "/"); print $0 "\t" o "/" p[n] }' >"$data/jobs-100.txt"
ls "$data"/in/*.wav | awk -v o="$data/rss" '{ n = split($0, p, "/"); print $0 "\t" o "/" p[n] }' >"$data/jobs-all.txt"
mkdir -p "$data/rss"
{
    echo "| files | peak RSS (KiB) |"
    echo "|---|---|"
    echo "| $(wc -l <"$data/jobs-100.txt") | $(rss "$data/jobs-100.txt") |"
    echo "| $FILES | $(rss "$data/jobs-all.txt") |"
} >"$results/batch-rss.md"
cat "$results"/batch-*.md
