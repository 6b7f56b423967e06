#!/bin/sh
# Installs the library into a temporary prefix, builds the example against
# it with nothing but `pkg-config --cflags --libs tonbrix`, and checks that
# the program writes the bytes the command line writes; the shared library
# exports the public interface only.
# Usage: library_install_test.sh BUILD_DIR SOURCE_DIR TONBRIX TEST_LV2_DIR [EXTRA_CXXFLAGS]
set -eu
build=$1
source=$2
tonbrix=$3
LV2_PATH=$4
extra=${5:-}
export LV2_PATH
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

cmake --install "$build" --prefix "$root/prefix" > /dev/null
pc=$(find "$root/prefix" -name tonbrix.pc)
[ -n "$pc" ] || { echo "no tonbrix.pc installed" >&2; exit 1; }
PKG_CONFIG_PATH=$(dirname "$pc")
export PKG_CONFIG_PATH
libdir=$(pkg-config --variable=libdir tonbrix)
[ -f "$libdir/libtonbrix.so" ] || { echo "no libtonbrix.so in $libdir" >&2; exit 1; }
[ -f "$(pkg-config --variable=includedir tonbrix)/tonbrix/render.h" ] ||
    { echo "no public headers installed" >&2; exit 1; }

# shellcheck disable=SC2046,SC2086
c++ $extra -o "$root/render_file" "$source/examples/render_file.cpp" \
    $(pkg-config --cflags --libs tonbrix) -Wl,-rpath,"$libdir"

sox -R -n -r 44100 -c 2 -b 16 "$root/in.wav" synth 1.3 sine 440 sine 1000 vol 0.7
"$root/render_file" "$root/in.wav" "$root/example.wav" http://tonbrix.test/plugins/mixed gain=1.8 \
    > /dev/null 2>&1
"$tonbrix" -q -j 1 -i "$root/in.wav" -o "$root/program.wav" -p gain:1.8 \
    http://tonbrix.test/plugins/mixed > /dev/null
cmp "$root/example.wav" "$root/program.wav"

# Only what include/tonbrix/ declares is exported: the engine, the LV2 host
# and the file layers stay inside.
nm -D -C --defined-only "$libdir/libtonbrix.so" > "$root/symbols"
grep -q 'tonbrix::render(' "$root/symbols" || { echo "render() is not exported" >&2; exit 1; }
grep -q 'tonbrix::World::load()' "$root/symbols" || { echo "World::load() is not exported" >&2; exit 1; }
if grep -E 'tonbrix::(Scheduler|ChunkRing|Instances|UridTable|FileSink|FileSource|cli::)' "$root/symbols"; then
    echo "internal symbols are exported" >&2
    exit 1
fi
