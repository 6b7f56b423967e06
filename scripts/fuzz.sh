#!/bin/sh
# Runs every fuzz target built in the given folder (default build-fuzz) for
# FUZZ_SECONDS seconds each (default 60), starting from its seed corpus in
# tests/fuzz/<name>/. New inputs go to <build>/corpus/<name>/, so the seeds
# stay as they are; an input that fails is saved in <build>/findings/<name>/.
# Exits with 1 when any target found a fault.
set -eu

build=${1:-build-fuzz}
seconds=${FUZZ_SECONDS:-60}
root=$(cd "$(dirname "$0")/.." && pwd)

# Leaks inside libraries that tonbrix cannot mend are not findings.
LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
export LSAN_OPTIONS

found=0
ran=0
for target in "$build"/tests/fuzz/fuzz_*; do
    [ -x "$target" ] || continue
    name=$(basename "$target")
    name=${name#fuzz_}
    corpus="$build/corpus/$name"
    findings="$build/findings/$name"
    log="$build/fuzz-$name.log"
    mkdir -p "$corpus" "$findings"
    echo "fuzz $name: $seconds s"
    ran=$((ran + 1))
    if "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$findings/" \
        "$corpus" "$root/tests/fuzz/$name" >"$log" 2>&1; then
        grep -E '^stat::number_of_executed_units' "$log" | sed 's/^/    /' || true
    else
        echo "    FOUND A FAULT: input in $findings/, report in $log"
        found=1
    fi
done
if [ "$ran" -eq 0 ]; then
    echo "No fuzz targets in $build/tests/fuzz" >&2
    exit 1
fi
exit "$found"
