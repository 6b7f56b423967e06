#!/bin/sh
# The library's example runs a file through a plugin and writes the bytes
# the program writes for the same run; a missing plugin is an error.
# Usage: example_test.sh RENDER_FILE TONBRIX TEST_LV2_DIR
set -eu
example=$1
tonbrix=$2
LV2_PATH=$3
export LV2_PATH
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

sox -R -n -r 44100 -c 2 -b 16 "$dir/in.wav" synth 1.3 sine 440 sine 1000 vol 0.7
"$example" "$dir/in.wav" "$dir/example.wav" http://tonbrix.test/plugins/mixed gain=1.8 \
    > "$dir/out.txt" 2> "$dir/err.txt"
grep -q '^57330 frames written$' "$dir/out.txt"
grep -q '^WARNING: Clipping output' "$dir/err.txt"
"$tonbrix" -q -j 1 -i "$dir/in.wav" -o "$dir/program.wav" -p gain:1.8 \
    http://tonbrix.test/plugins/mixed > /dev/null
cmp "$dir/example.wav" "$dir/program.wav"

if "$example" "$dir/in.wav" "$dir/none.wav" http://tonbrix.test/plugins/nosuch 2> "$dir/err.txt"; then
    echo "a missing plugin was not an error" >&2
    exit 1
fi
grep -q 'nosuch' "$dir/err.txt"
test ! -e "$dir/none.wav"
