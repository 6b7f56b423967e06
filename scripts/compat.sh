#!/bin/sh
# Compatibility sweep: runs tonbrix over every installed LV2 plugin on a
# short generated input (one channel per audio input, mono for plugins
# without audio inputs; a plugin with a MIDI input also gets a short MIDI file
# of a few notes, and an instrument runs on it alone, without an input file;
# a plugin without audio outputs writes its MIDI output or its readings) and
# sorts the outcomes: ok (silent? NaN or inf?),
# failed (first error line), crashed (signal), hung (timeout). Where
# ffmpeg's lv2 filter also runs the plugin, the two outputs are compared.
#
# It also guards against changes of plugin output: each plugin's output gets
# a digest (compat_wav.py digest: a sketch of the samples that float noise
# does not move), compared with scripts/compat-baseline.tsv; a plugin whose
# digest differs is run once more, and one whose two runs differ is random.
# The sweep ends with status 1 when an output changed, or when the baseline's
# history has a change without a reason (compat_baseline.py). With UPDATE=1
# it writes the changed digests into the baseline instead, with the reason
# REASON (`make compat-update REASON=...`).
#
# Environment: TONBRIX (binary, default build/tonbrix), TIMEOUT (seconds per
# run, default 20), JOBS (parallel runs, default 2), COMPAT_DIR (work folder,
# default build/compat), SKIP_INSTALL=1 (do not install missing packages),
# TOLERANCE (largest sample difference counted as the same, default 1e-5),
# BLOCK (frames per plugin run for both tonbrix and ffmpeg, default 512),
# PLUGINS (a grep -E pattern: sweep only the URIs that match),
# BASELINE (default scripts/compat-baseline.tsv), UPDATE=1 and REASON (update
# the baseline), FFMPEG=0 (leave out the comparison with ffmpeg).
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
TONBRIX=${TONBRIX:-$here/build/tonbrix}
TIMEOUT=${TIMEOUT:-20}
JOBS=${JOBS:-2}
COMPAT_DIR=${COMPAT_DIR:-$here/build/compat}
TOLERANCE=${TOLERANCE:-1e-5}
BLOCK=${BLOCK:-512}
BASELINE=${BASELINE:-$here/scripts/compat-baseline.tsv}
FFMPEG=${FFMPEG:-1}
export TONBRIX TIMEOUT COMPAT_DIR TOLERANCE BLOCK BASELINE FFMPEG
wav_tool="$here/scripts/compat_wav.py"
baseline_tool="$here/scripts/compat_baseline.py"

# One plugin: compat.sh one NUMBER URI runs it into runs/NUMBER/out.* and
# writes results/NUMBER as "URI|outcome|detail|ffmpeg comparison|MIDI
# input|digest"; for a run that went well the detail and the digest are "-"
# until compat_baseline.py digests fills them in (one Python process for all
# runs: starting one per plugin took most of the sweep's time).
# compat.sh second NUMBER URI runs it once more, into runs/NUMBER/second.*.
if [ "${1:-}" = one ] || [ "${1:-}" = second ]; then
    mode=$1
    number=$2
    uri=$3
    dir="$COMPAT_DIR/runs/$number"
    [ "$mode" = second ] || rm -rf "$dir"
    mkdir -p "$dir"
    info=$("$TONBRIX" --info "$uri" 2>/dev/null || true)
    inputs=$(printf '%s\n' "$info" | grep -c '^    audio input' || true)
    midi_in=no
    printf '%s\n' "$info" | grep -q 'atom input (.*MIDI' && midi_in=yes
    midi_out=no
    printf '%s\n' "$info" | grep -q 'atom output (.*MIDI' && midi_out=yes
    outputs=$(printf '%s\n' "$info" | grep -c '^    audio output' || true)
    channels=$inputs
    [ "$channels" -ge 1 ] || channels=1
    input="$COMPAT_DIR/inputs/in-$channels.wav"
    notes="$COMPAT_DIR/inputs/notes.mid"
    # The files of the run: an instrument plays the notes alone, a plugin
    # without audio outputs gives its MIDI or its readings.
    set -- -b "$BLOCK"
    if [ "$midi_in" = yes ]; then
        set -- "$@" --midi="$notes"
        [ "$inputs" -ge 1 ] || set -- "$@" --tail=1
    fi
    if [ "$midi_in" = no ] || [ "$inputs" -ge 1 ]; then
        set -- "$@" -i "$input"
    fi
    # The output: run_plugin gives the option that its extension calls for.
    name=out
    [ "$mode" = one ] || name=second
    if [ "$outputs" -ge 1 ]; then
        out="$dir/$name.wav"
    elif [ "$midi_out" = yes ]; then
        out="$dir/$name.mid"
    else
        out="$dir/$name.report"
    fi
    if [ ! -f "$input" ]; then
        # Made under a temporary name, then renamed: parallel runs may race.
        # A noise of its own in every channel.
        sox -R -n -r 48000 -b 32 -e floating-point -c "$channels" "$input.$number.wav" \
            synth 0.5 $(yes pinknoise | head -n "$channels") vol 0.5
        mv -f "$input.$number.wav" "$input"
    fi

    # run_plugin OUT OPTIONS...: one run of the plugin writing OUT; its status.
    run_plugin() {
        target=$1
        shift
        case $target in
        *.report) timeout -k 5 "$TIMEOUT" "$TONBRIX" "$@" --report "$uri" \
            >"$target" 2>"$dir/stderr" </dev/null ;;
        *.mid) timeout -k 5 "$TIMEOUT" "$TONBRIX" "$@" --midi-out="$target" "$uri" \
            >"$dir/stdout" 2>"$dir/stderr" </dev/null ;;
        *) timeout -k 5 "$TIMEOUT" "$TONBRIX" "$@" -o "$target" "$uri" \
            >"$dir/stdout" 2>"$dir/stderr" </dev/null ;;
        esac
    }

    status=0
    run_plugin "$out" "$@" || status=$?
    [ "$mode" = one ] || exit 0
    ffmpeg_result=-
    if [ "$status" -eq 0 ]; then
        outcome=ok
        detail=-
        digest=-
        # ffmpeg's filter gives plugins no MIDI: only audio runs compare.
        if [ "$FFMPEG" = 1 ] && [ "$inputs" -ge 1 ] && [ "$midi_in" = no ] && [ "$outputs" -ge 1 ] &&
            command -v ffmpeg >/dev/null 2>&1; then
            # Colons separate filter options: escaped within the quotes.
            # Many plugins work per run, so ffmpeg runs them with the same
            # block size (its last block is short where tonbrix pads it).
            escaped=$(printf '%s' "$uri" | sed 's/:/\\:/g')
            if timeout -k 5 "$TIMEOUT" ffmpeg -nostdin -v error -i "$input" \
                -af "asetnsamples=n=$BLOCK:p=0,lv2=p='$escaped'" -c:a pcm_f32le -y "$dir/ffmpeg.wav" \
                >/dev/null 2>"$dir/ffmpeg.stderr"; then
                ffmpeg_result=$("$wav_tool" compare "$dir/out.wav" "$dir/ffmpeg.wav" "$TOLERANCE")
                case $ffmpeg_result in
                differ*)
                    # A plugin whose output changes from run to run cannot be
                    # compared.
                    timeout -k 5 "$TIMEOUT" "$TONBRIX" -b "$BLOCK" -i "$input" -o "$dir/again.wav" "$uri" \
                        >/dev/null 2>&1 </dev/null || true
                    again=$("$wav_tool" compare "$dir/out.wav" "$dir/again.wav" 0)
                    [ "$again" = same ] || ffmpeg_result="varies"
                    ;;
                esac
            else
                ffmpeg_result="ffmpeg failed"
            fi
        fi
    elif [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
        outcome=hung
        detail="no end after ${TIMEOUT}s"
        digest=hung
    elif [ "$status" -gt 128 ]; then
        outcome=crashed
        detail="signal $((status - 128))"
        digest="crashed $detail"
    else
        # Only the outcome: the wording of messages is not the plugin's output.
        digest=failed
        outcome=failed
        detail=$(grep -m1 -E '^(Error|Failed|No such|--rate)' "$dir/stderr" ||
            tail -n1 "$dir/stderr")
        [ -n "$detail" ] || detail="status $status, no message"
    fi
    printf '%s|%s|%s|%s|%s|%s\n' "$uri" "$outcome" "$detail" "$ffmpeg_result" "$midi_in" \
        "$digest" >"$COMPAT_DIR/results/$number"
    exit 0
fi

plugin_packages="lv2-examples swh-lv2 mda-lv2 x42-plugins lsp-plugins-lv2 calf-plugins
invada-studio-plugins-lv2 zam-plugins fomp blop-lv2"
packages="$plugin_packages lilv-utils sox ffmpeg python3"
if [ "${SKIP_INSTALL:-0}" != 1 ]; then
    missing=""
    for p in $packages; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
            missing="$missing $p"
        fi
    done
    if [ -n "$missing" ]; then
        echo "Installing:$missing"
        sudo=""
        [ "$(id -u)" -eq 0 ] || sudo="sudo"
        export DEBIAN_FRONTEND=noninteractive
        $sudo apt-get update -qq
        # shellcheck disable=SC2086
        $sudo apt-get install -y -qq --no-install-recommends $missing
    fi
fi
if [ ! -x "$TONBRIX" ]; then
    echo "compat: $TONBRIX is missing; run 'make build' first" >&2
    exit 1
fi

rm -rf "$COMPAT_DIR"
mkdir -p "$COMPAT_DIR/inputs" "$COMPAT_DIR/results" "$COMPAT_DIR/runs"
"$wav_tool" notes "$COMPAT_DIR/inputs/notes.mid"
# PLUGINS (a pattern for grep -E) sweeps only the plugins whose URI matches.
lv2ls | grep -E -- "${PLUGINS:-.}" >"$COMPAT_DIR/plugins.txt" || true
total=$(wc -l <"$COMPAT_DIR/plugins.txt")
echo "compat: $total plugins, $JOBS at a time, ${TIMEOUT}s each at most"
started=$(date +%s)
awk '{print NR, $0}' "$COMPAT_DIR/plugins.txt" |
    xargs -P "$JOBS" -L 1 sh "$here/scripts/compat.sh" one
# The digests; a plugin whose digest is not the baseline's is run again, and
# one whose two runs differ is random by design. Run folders are kept only
# where there is something to look at.
"$baseline_tool" digests "$COMPAT_DIR" "$BASELINE" >"$COMPAT_DIR/again.txt"
xargs -r -P "$JOBS" -L 1 sh "$here/scripts/compat.sh" second <"$COMPAT_DIR/again.txt"
"$baseline_tool" seconds "$COMPAT_DIR"
elapsed=$(($(date +%s) - started))

summary="$COMPAT_DIR/summary.md"
cat "$COMPAT_DIR"/results/* | sort >"$COMPAT_DIR/results.txt"
awk -F'|' -v date="$(date -u '+%Y-%m-%d %H:%M UTC')" -v elapsed="$elapsed" '
    { total++; kind[$2]++
      if ($2 == "ok") { ok_detail[$3 ~ /^midi/ ? "midi" : $3]++ }
      if ($5 == "yes") { midi++; if ($2 == "ok") { midi_kind[$3 ~ /^midi/ ? "midi" : $3]++ } else { midi_kind["not ok"]++ } }
      if ($2 == "failed") { failed[$3]++ }
      if ($2 == "crashed" || $2 == "hung") { bad[$1] = $2 ": " $3 }
      if ($4 != "-") { compared[$4 ~ /^differ/ ? "differ" : $4]++ }
      if ($4 ~ /^differ/ || $4 ~ /^shape/) { differ[$1] = $4 }
    }
    END {
      printf "Sweep of %d LV2 plugins, %s (%d s).\n\n", total, date, elapsed
      print "| outcome | plugins |"
      print "|---|---|"
      printf "| ok | %d |\n", kind["ok"]
      printf "| ok, output silent | %d |\n", ok_detail["silent"]
      printf "| ok, output with NaN or inf | %d |\n", ok_detail["nan"] + ok_detail["inf"]
      printf "| failed | %d |\n", kind["failed"]
      printf "| crashed | %d |\n", kind["crashed"]
      printf "| hung | %d |\n", kind["hung"]
      print ""
      print "| with a MIDI input, given the notes | plugins |"
      print "|---|---|"
      printf "| all | %d |\n", midi
      printf "| audio with sound | %d |\n", midi_kind["sound"]
      printf "| audio, silent | %d |\n", midi_kind["silent"]
      printf "| MIDI out with notes | %d |\n", midi_kind["midi"]
      printf "| MIDI out without notes | %d |\n", midi_kind["no midi"]
      printf "| readings only | %d |\n", midi_kind["report"]
      printf "| not ok | %d |\n", midi_kind["not ok"]
      print ""
      print "| against ffmpeg lv2 (ok, with audio inputs) | plugins |"
      print "|---|---|"
      printf "| same output | %d |\n", compared["same"]
      printf "| different output | %d |\n", compared["differ"]
      printf "| different channel or frame count | %d |\n", compared["shape"]
      printf "| output varies from run to run | %d |\n", compared["varies"]
      printf "| ffmpeg failed | %d |\n", compared["ffmpeg failed"]
      if (length(failed) > 0) {
        print "\nFailures by first error line:\n"
        for (m in failed) printf "- %d: `%s`\n", failed[m], m
      }
      if (length(bad) > 0) {
        print "\nCrashed or hung:\n"
        for (u in bad) printf "- %s (%s)\n", u, bad[u]
      }
      if (length(differ) > 0) {
        print "\nOutput differs from ffmpeg:\n"
        for (u in differ) printf "- %s (%s)\n", u, differ[u]
      }
    }' "$COMPAT_DIR/results.txt" >"$summary"
cat "$summary"
echo "compat: details in $COMPAT_DIR/results.txt"

# The guard: the outputs against the baseline, and the baseline's reasons.
for p in $plugin_packages; do
    printf '%s=%s\n' "$p" "$(dpkg-query -W -f='${Version}' "$p" 2>/dev/null || echo missing)"
done >"$COMPAT_DIR/packages.txt"
partial=""
[ -z "${PLUGINS:-}" ] || partial=--partial
guard=0
if [ "${UPDATE:-0}" = 1 ]; then
    "$baseline_tool" update "$BASELINE" "$COMPAT_DIR/results.txt" "$COMPAT_DIR/packages.txt" \
        "${REASON:-}" $partial || guard=1
else
    "$baseline_tool" check "$BASELINE" "$COMPAT_DIR/results.txt" "$COMPAT_DIR/packages.txt" \
        $partial | tee "$COMPAT_DIR/changes.txt" || guard=1
    grep -q '^- ' "$COMPAT_DIR/changes.txt" && guard=1
fi
"$baseline_tool" history "$BASELINE" || guard=1
exit "$guard"
