#!/bin/bash
# Runs the README's recipes that fit on one machine, exactly as written
# there, with the system's plugins, and checks what they made.
# Usage: recipes_test.sh TONBRIX README
set -u
tonbrix_dir=$(cd "$(dirname "$1")" && pwd)
readme=$2
status=0
export PATH="$tonbrix_dir:$PATH"
export LV2_PATH=/usr/lib/lv2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The shell block that follows the line "<!-- tested: NAME -->".
recipe()
{
    awk -v mark="<!-- tested: $1 -->" '
        $0 == mark { found = 1; next }
        found && /^```sh$/ { inside = 1; next }
        inside && /^```$/ { exit }
        inside { print }' "$readme"
}

peak()
{
    sox "$1" -n stat 2>&1 | awk '/^Maximum amplitude/ { print $3 }'
}

for plugin in http://lv2plug.in/plugins/eg-amp http://drobilla.net/plugins/mda/Detune; do
    if ! tonbrix --list | grep -qF "$plugin"; then
        echo "SKIP: $plugin is not installed"
        exit 77
    fi
done

# A folder of three files, one with a space in its name.
folder=$work/folder
mkdir -p "$folder/in"
sox -n -r 44100 -c 1 -b 16 "$folder/in/a.wav" synth 0.5 sine 440 vol 0.5
sox -n -r 48000 -c 2 -b 24 "$folder/in/b.wav" synth 0.3 sine 220 vol 0.5
sox -n -r 22050 -c 1 -b 16 "$folder/in/take 3.wav" synth 0.2 sine 880 vol 0.5
block=$(recipe folder)
[ -n "$block" ] || { echo "no folder recipe in the README"; exit 1; }
(cd "$folder" && bash -e -o pipefail -c "$block") || { echo "folder recipe failed"; status=1; }
for name in a b "take 3"; do
    out="$folder/out/$name-quieter.wav"
    if [ ! -f "$out" ]; then
        echo "missing: $out"
        status=1
        continue
    fi
    [ "$(soxi -s "$out")" = "$(soxi -s "$folder/in/$name.wav")" ] || { echo "length of $out"; status=1; }
    [ "$(soxi -c "$out")" = "$(soxi -c "$folder/in/$name.wav")" ] || { echo "channels of $out"; status=1; }
    # -6 dB halves the half-scale sine.
    awk -v p="$(peak "$out")" 'BEGIN { exit !(p > 0.24 && p < 0.26) }' ||
        { echo "peak of $out is $(peak "$out")"; status=1; }
done
made=$(find "$folder/out" -type f | wc -l)
[ "$made" -eq 3 ] || { echo "out/ holds $made files"; status=1; }

# The folder run: the same tree with FLAC files, each the folder recipe's
# sound; and a job list made with jq, one gain per file between -12 and 0 dB.
block=$(recipe batch-folder)
[ -n "$block" ] || { echo "no batch-folder recipe in the README"; exit 1; }
(cd "$folder" && bash -e -o pipefail -c "$block") >"$work/batch.out" ||
    { echo "batch-folder recipe failed"; status=1; }
grep -qx "Processed 3 files: 3 written, 0 failed." "$work/batch.out" ||
    { echo "batch-folder recipe: no closing line"; cat "$work/batch.out"; status=1; }
for name in a b "take 3"; do
    out="$folder/out-flac/$name.flac"
    [ "$(soxi -t "$out" 2>/dev/null)" = flac ] || { echo "missing: $out"; status=1; continue; }
    awk -v p="$(peak "$out")" 'BEGIN { exit !(p > 0.24 && p < 0.26) }' ||
        { echo "peak of $out is $(peak "$out")"; status=1; }
done
# Resumed: the outputs of the run above are current, save one whose input
# changed since.
block=$(recipe batch-resume)
[ -n "$block" ] || { echo "no batch-resume recipe in the README"; exit 1; }
touch -d '+1 minute' "$folder/in/b.wav"
(cd "$folder" && bash -e -o pipefail -c "$block") >"$work/resume.out" ||
    { echo "batch-resume recipe failed"; status=1; }
grep -qx "Processed 3 files: 1 written, 2 skipped, 0 failed." "$work/resume.out" ||
    { echo "batch-resume recipe: wrong closing line"; cat "$work/resume.out"; status=1; }
if command -v jq >/dev/null; then
    block=$(recipe batch-jq)
    [ -n "$block" ] || { echo "no batch-jq recipe in the README"; exit 1; }
    (cd "$folder" && bash -e -o pipefail -c "$block") || { echo "batch-jq recipe failed"; status=1; }
    for name in a b "take 3"; do
        out="$folder/augmented/$name.wav"
        [ -f "$out" ] || { echo "missing: $out"; status=1; continue; }
        awk -v p="$(peak "$out")" 'BEGIN { exit !(p > 0.12 && p <= 0.51) }' ||
            { echo "peak of $out is $(peak "$out")"; status=1; }
    done
fi

# The recipe for several machines, with this machine alone (-S :): the
# command that the remote machines run, quoted as written.
machines=$work/machines
mkdir -p "$machines/in"
cp "$folder/in/a.wav" "$folder/in/take 3.wav" "$machines/in/"
block=$(recipe machines)
case $block in
*"-S render1,render2,: "*) ;;
*) echo "the machines recipe does not name render1,render2,:"; status=1 ;;
esac
block=${block//-S render1,render2,: /-S : }
(cd "$machines" && bash -e -o pipefail -c "$block") 2>/dev/null || { echo "machines recipe failed"; status=1; }
for name in a "take 3"; do
    cmp -s "$machines/out/$name-quieter.wav" "$folder/out/$name-quieter.wav" ||
        { echo "machines recipe: $name-quieter.wav differs from the folder recipe's"; status=1; }
    [ -f "$machines/in/$name.wav" ] || { echo "machines recipe removed in/$name.wav"; status=1; }
done

# A chain of two plugins, and the same two runs joined by a raw float pipe:
# the same samples.
chain=$work/chain
mkdir -p "$chain"
sox -n -r 44100 -c 2 -b 16 "$chain/in.wav" synth 1 sine 440 sine 660 vol 0.5
block=$(recipe chain)
[ -n "$block" ] || { echo "no chain recipe in the README"; exit 1; }
(cd "$chain" && bash -e -o pipefail -c "$block") >"$work/chain.out" 2>&1 ||
    { echo "chain recipe failed:"; cat "$work/chain.out"; status=1; }
grep -qx '2: Note: Running 1 instances of the plugin.' "$work/chain.out" ||
    { echo "the chain's notes lack the second plugin's position:"; cat "$work/chain.out"; status=1; }
if [ -f "$chain/out.wav" ]; then
    [ "$(soxi -c "$chain/out.wav")" = 2 ] || { echo "channels of the chain's output"; status=1; }
    [ "$(soxi -s "$chain/out.wav")" = 44100 ] || { echo "length of the chain's output"; status=1; }
    sox "$chain/in.wav" -t f32 - |
        tonbrix -q --ignore-clipping -r 44100 -n 2 -i - -o - -p gain:-6 \
            http://lv2plug.in/plugins/eg-amp |
        tonbrix -q -r 44100 -n 2 -i - -o "$chain/piped.wav" --output-format=wav:pcm16 \
            -P "Stereo Detune" http://drobilla.net/plugins/mda/Detune
    cmp -s <(sox "$chain/out.wav" -t raw -) <(sox "$chain/piped.wav" -t raw -) ||
        { echo "the chain's output differs from the raw pipe's"; status=1; }
else
    echo "the chain recipe wrote no out.wav"
    status=1
fi

# A plugin between two sox processes through a raw float pipe.
pipe=$work/pipe
mkdir -p "$pipe"
sox -n -r 44100 -c 2 -b 16 "$pipe/in.wav" synth 1 sine 440 sine 660 vol 0.5
block=$(recipe pipe)
[ -n "$block" ] || { echo "no pipe recipe in the README"; exit 1; }
(cd "$pipe" && bash -e -o pipefail -c "$block") 2>"$work/pipe.err" ||
    { echo "pipe recipe failed:"; cat "$work/pipe.err"; status=1; }
if [ -f "$pipe/out.wav" ]; then
    [ "$(soxi -r "$pipe/out.wav")" = 48000 ] || { echo "rate of the pipe's output"; status=1; }
    [ "$(soxi -c "$pipe/out.wav")" = 2 ] || { echo "channels of the pipe's output"; status=1; }
    [ "$(soxi -s "$pipe/out.wav")" = 48000 ] || { echo "length of the pipe's output"; status=1; }
    awk -v p="$(peak "$pipe/out.wav")" 'BEGIN { exit !(p > 0.05) }' ||
        { echo "the pipe's output is silent"; status=1; }
else
    echo "the pipe recipe wrote no out.wav"
    status=1
fi
# Events: a piano playing a MIDI file into a hall, kicks turned into MIDI
# notes, and a fade. Each recipe is skipped when its plugins are missing.
installed()
{
    local uri
    for uri in "$@"; do
        tonbrix --list | grep -qF "$uri" || return 1
    done
}
events=$work/events
mkdir -p "$events"
if installed http://drobilla.net/plugins/mda/Piano http://calf.sourceforge.net/plugins/Reverb; then
    # Two notes of half a second each at 96 ticks per quarter note: the file ends at 1 s.
    printf 'MThd\x00\x00\x00\x06\x00\x00\x00\x01\x00\x60MTrk\x00\x00\x00\x14' >"$events/song.mid"
    printf '\x00\x90\x3c\x64\x60\x80\x3c\x00\x00\x90\x40\x64\x60\x80\x40\x00\x00\xff\x2f\x00' >>"$events/song.mid"
    (cd "$events" && bash -e -o pipefail -c "$(recipe midi-render)") || { echo "midi-render recipe failed"; status=1; }
    [ "$(soxi -s "$events/piano.wav" 2>/dev/null)" = 192000 ] || { echo "length of piano.wav"; status=1; }
    [ "$(soxi -c "$events/piano.wav" 2>/dev/null)" = 2 ] || { echo "channels of piano.wav"; status=1; }
    awk -v p="$(peak "$events/hall.wav")" 'BEGIN { exit !(p > 0.05) }' ||
        { echo "hall.wav is silent"; status=1; }
fi
if installed http://gareus.org/oss/lv2/onsettrigger#bassdrum_mono; then
    # Two kicks, at 0.25 s and 1.25 s.
    sox -n -r 48000 -c 1 "$events/kick.wav" synth 0.1 sine 60 fade q 0 0.1 0.08 vol 0.8
    sox "$events/kick.wav" "$events/drums.wav" pad 0.25 0.9 repeat 1
    (cd "$events" && bash -e -o pipefail -c "$(recipe drum-trigger)") || { echo "drum-trigger recipe failed"; status=1; }
    # Two note-ons (0x90) in the file.
    ons=$(od -An -tx1 -v "$events/kicks.mid" | tr -s ' \n' '\n\n' | grep -c '^9[0-9a-f]$')
    [ "$ons" -ge 2 ] || { echo "kicks.mid holds $ons note-ons"; status=1; }
fi
fade=$work/fade
mkdir -p "$fade"
sox -n -r 48000 -c 1 -b 16 "$fade/in.wav" synth 3 sine 440 vol 0.5
(cd "$fade" && bash -e -o pipefail -c "$(recipe fade)") || { echo "fade recipe failed"; status=1; }
start=$(sox "$fade/faded.wav" -n trim 0 0.05 stat 2>&1 | awk '/^Maximum amplitude/ { print $3 }')
end=$(sox "$fade/faded.wav" -n trim 2.5 stat 2>&1 | awk '/^Maximum amplitude/ { print $3 }')
# -30 dB of the half-scale sine at the start, the whole of it after 2 s.
awk -v s="$start" -v e="$end" 'BEGIN { exit !(s > 0.014 && s < 0.02 && e > 0.49 && e < 0.51) }' ||
    { echo "fade: peak $start at the start, $end at the end"; status=1; }
exit $status
