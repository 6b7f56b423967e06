#!/bin/sh
# Makes a short test tone and runs it through the LV2 example amplifier
# with a gain of -6 dB, then shows what was written.
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
echo "== Processing $tone with gain -6 dB"
"$tonbrix" -i "$tone" -o "$result" -p gain:-6 "$plugin"
echo "== Wrote $result"
soxi "$result" | sed -n '/Channels/,/Sample Encoding/p'
echo "Peak of the input:  $(sox "$tone" -n stat 2>&1 | sed -n 's/^Maximum amplitude: *//p')"
echo "Peak of the output: $(sox "$result" -n stat 2>&1 | sed -n 's/^Maximum amplitude: *//p')"
