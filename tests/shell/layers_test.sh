#!/bin/sh
# Each layer of the sources includes only itself and the layers below it,
# the public headers include nothing of the sources, lilv, LV2, libsndfile
# or argtable2, and the program (src/cli/, src/main.cpp) is a client of
# the library: it includes only the public headers and its own, and none
# of lilv, LV2 or libsndfile.
# Usage: layers_test.sh SOURCE_DIR
set -u
root=$1
status=0

# check LAYER ALLOWED...: every project include of src/LAYER names an allowed layer.
check() {
    layer=$1
    shift
    for file in $(find "$root/src/$layer" -name '*.h' -o -name '*.cpp' | sort); do
        grep -n '^#include "' "$file" | while IFS= read -r line; do
            target=$(printf '%s\n' "$line" | sed 's/.*#include "\([^/"]*\)\/.*/\1/')
            allowed=no
            for ok in "$@"; do
                [ "$target" = "$ok" ] && allowed=yes
            done
            if [ "$allowed" = no ]; then
                echo "${file#"$root"/}:$line"
            fi
        done
    done
}

found=$(check base base; check io base io; check lv2 base lv2; check engine base io lv2 engine
        check run base io lv2 engine run; check batch base io lv2 engine run batch; check cli cli)
if [ -n "$found" ]; then
    echo "includes of a higher layer:"
    echo "$found"
    status=1
fi
found=$(grep -n '^#include' "$root"/include/tonbrix/*.h | grep -v '#include <tonbrix/' |
        grep -E '"|<(lilv|lv2|sndfile|argtable)')
if [ -n "$found" ]; then
    echo "public headers that include the insides:"
    echo "$found"
    status=1
fi
found=$(grep -n '^#include' "$root"/src/cli/*.h "$root"/src/cli/*.cpp "$root"/src/main.cpp |
        grep -E '"(base|io|lv2|engine|run|batch)/|<(lilv|lv2|sndfile|serd|sord)')
if [ -n "$found" ]; then
    echo "the program includes the library's insides:"
    echo "$found"
    status=1
fi
found=$(grep -n 'impl()' "$root"/include/tonbrix/*.h)
if [ -n "$found" ]; then
    echo "public headers that hand out their insides:"
    echo "$found"
    status=1
fi
exit $status
