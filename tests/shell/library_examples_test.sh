#!/bin/sh
# The library's examples give what the program gives for the same run:
# a file through a chain, a MIDI file played by an instrument into memory,
# and a buffer in memory through a plugin with automation and readings.
# Usage: library_examples_test.sh EXAMPLES_DIR TONBRIX TEST_LV2_DIR
set -eu
examples=$1
tonbrix=$2
LV2_PATH=$3:/usr/lib/lv2
export LV2_PATH
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() {
    echo "$*" >&2
    exit 1
}

# A file through a chain of two plugins: the same bytes, the same length.
sox -R -n -r 44100 -c 2 -b 24 "$dir/in.wav" synth 1.1 sine 300 sine 700 vol 0.5
detune=http://drobilla.net/plugins/mda/Detune
mixed=http://tonbrix.test/plugins/mixed
"$examples/chain_file" "$dir/in.wav" "$dir/chain.wav" "$detune" "$mixed" \
    > "$dir/chain.txt" 2> "$dir/chain.err"
grep -q '^48510 frames written$' "$dir/chain.txt" || fail "chain: $(cat "$dir/chain.txt")"
"$tonbrix" -q -i "$dir/in.wav" -o "$dir/chain_program.wav" "$detune" --then "$mixed"
cmp "$dir/chain.wav" "$dir/chain_program.wav"
# An error about one plugin says which.
if "$examples/chain_file" "$dir/in.wav" "$dir/none.wav" "$detune" http://tonbrix.test/plugins/nosuch \
    2> "$dir/chain.err"; then
    fail "chain: a missing plugin was not an error"
fi
grep -q '^plugin 2: No such plugin http://tonbrix.test/plugins/nosuch$' "$dir/chain.err"
test ! -e "$dir/none.wav"

# A MIDI file (one note of half a second at 120 bpm, 480 ticks a quarter)
# played by an instrument into memory: the program's raw 32-bit floats
# are the same samples.
printf 'MThd\000\000\000\006\000\000\000\001\001\340MTrk\000\000\000\015\000\220\074\144\203\140\200\074\000\000\377\057\000' \
    > "$dir/note.mid"
epiano=http://drobilla.net/plugins/mda/EPiano
"$examples/midi_to_memory" "$dir/note.mid" "$epiano" 0.5 "$dir/midi.raw" > "$dir/midi.txt"
grep -q '^2 channels, [0-9]* frames at 48000 Hz, peak ' "$dir/midi.txt" || fail "midi: $(cat "$dir/midi.txt")"
"$tonbrix" -q -j 1 --midi "$dir/note.mid" --tail 0.5 -o "$dir/midi_program.raw" \
    --output-format raw:float "$epiano"
cmp "$dir/midi.raw" "$dir/midi_program.raw"

# A buffer in memory through a plugin whose delay follows points, its
# latency read every half second: the same samples and the same readings
# as the program's run on the same floats.
delay=http://tonbrix.test/plugins/delay
automation='delay:0=0,0.8=2400'
"$examples/buffer_automation" "$delay" "$automation" "$dir/sine.raw" "$dir/buffer.raw" \
    > "$dir/buffer.txt"
"$tonbrix" -q -r 48000 -n 1 -i "$dir/sine.raw" -o "$dir/buffer_program.raw" \
    --automate "$automation" --report-every 0.5 "$delay" > "$dir/buffer_program.txt"
cmp "$dir/buffer.raw" "$dir/buffer_program.raw"
cmp "$dir/buffer.txt" "$dir/buffer_program.txt"
test "$(wc -l < "$dir/buffer.txt")" -ge 2 || fail "readings: $(cat "$dir/buffer.txt")"
