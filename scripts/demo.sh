#!/bin/sh
# Makes a short test tone and runs it through the LV2 example amplifier
# with a gain of -6 dB, then shows what was written; then runs three plucked
# notes through a reverb and draws spectrograms of both files.
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
tonbrix="$here/build/tonbrix"
out_dir="$here/build/demo"
mkdir -p "$out_dir"
tone="$out_dir/tone.wav"
result="$out_dir/tone-minus-6dB.wav"
plugin="http://lv2plug.in/plugins/eg-amp"

# Two seconds of a 440 Hz sine at half scale, 48 kHz, 16-bit mono.
sox -n -r 48000 -c 1 -b 16 "$tone" synth 2 sine 440 vol 0.5

echo "== The example plugin in the plugin list"
"$tonbrix" --list | grep -F "$plugin" || true
echo "== Its input ports"
"$tonbrix" --nameports "$plugin" || true
echo "== Its control inputs from Python (tonbrix.describe)"
python=$(sed -n 's/^Python_EXECUTABLE:FILEPATH=//p' "$here/build/CMakeCache.txt")
PYTHONPATH="$here/build/python" "$python" -c '
import sys, tonbrix
for port in tonbrix.describe(sys.argv[1])["ports"]:
    if port["type"] == "control" and port["direction"] == "input":
        print("%s: %s to %s, default %s" % (port["symbol"], port["minimum"], port["maximum"], port["default"]))
' "$plugin"
echo "== Processing $tone with gain -6 dB"
"$tonbrix" -i "$tone" -o "$result" -p gain:-6 "$plugin"
echo "== Wrote $result"
soxi "$result" | sed -n '/Channels/,/Sample Encoding/p'
echo "Peak of the input:  $(sox "$tone" -n stat 2>&1 | sed -n 's/^Maximum amplitude: *//p')"
echo "Peak of the output: $(sox "$result" -n stat 2>&1 | sed -n 's/^Maximum amplitude: *//p')"

# The second example is one to listen to: three plucked notes (left, right,
# then both) through a stereo reverb with one of its presets, and a picture
# of each file's spectrum over time.
reverb="http://calf.sourceforge.net/plugins/Reverb"
preset="Large Empty Hall"
dry="$out_dir/plucks-dry.wav"
wet="$out_dir/plucks-hall.wav"
notes="$out_dir/notes"
mkdir -p "$notes"
sox -n -r 44100 -c 1 -b 16 "$notes/1.wav" synth 0.25 pluck C4 fade 0 0.25 0.2 pad 0 0.75
sox -n -r 44100 -c 1 -b 16 "$notes/2.wav" synth 0.25 pluck E4 fade 0 0.25 0.2 pad 0 0.75
sox -n -r 44100 -c 1 -b 16 "$notes/3.wav" synth 0.25 pluck G4 fade 0 0.25 0.2 pad 0 2.75
sox "$notes/1.wav" -c 2 "$notes/1s.wav" remix 1 0
sox "$notes/2.wav" -c 2 "$notes/2s.wav" remix 0 1
sox "$notes/3.wav" -c 2 "$notes/3s.wav" remix 1 1
sox "$notes/1s.wav" "$notes/2s.wav" "$notes/3s.wav" "$dry" vol 0.5
rm -r "$notes"

echo
echo "== The presets of the reverb"
"$tonbrix" --list-presets "$reverb"
echo "== Processing $dry with the preset \"$preset\""
"$tonbrix" -i "$dry" -o "$wet" -P "$preset" "$reverb"
sox "$dry" -n spectrogram -x 800 -y 257 -t "Input: three plucked notes, dry (left, right, both)" \
    -o "$out_dir/plucks-dry.png"
sox "$wet" -n spectrogram -x 800 -y 257 -t "Output: calf Reverb, preset $preset" \
    -o "$out_dir/plucks-hall.png"
echo "== Wrote $wet: listen to it next to $dry, for example:"
echo "   play $dry $wet"
echo "== Spectrograms (time across, frequency up, left channel on top):"
echo "   $out_dir/plucks-dry.png"
echo "   $out_dir/plucks-hall.png"
