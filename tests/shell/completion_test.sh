#!/bin/bash
# Completes command lines with the bash completion of tonbrix, through
# bash's own completion machinery, and checks what it offers.
# Usage: completion_test.sh TONBRIX COMPLETION_SCRIPT TEST_LV2_DIR
set -u

tonbrix=$1
script=$2
export LV2_PATH=$3

# shellcheck source=/dev/null
source /usr/share/bash-completion/bash_completion || exit 1
# shellcheck source=/dev/null
source "$script" || exit 1

failures=0
fail()
{
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# compopt works only while readline completes; here it notes the option.
compopt()
{
    [[ $* == "-o nospace" ]] && nospace=yes
}

COMP_WORDBREAKS=$' \t\n"\'><=;|&(:'

# Splits a line into words as readline does: at unescaped blanks, and at the
# characters of COMP_WORDBREAKS, which form words of their own. The cursor
# is at the end.
split_line()
{
    local line=$1 word="" kind="" c i
    COMP_WORDS=()
    for ((i = 0; i < ${#line}; i++)); do
        c=${line:i:1}
        if [[ $c == ' ' ]]; then
            [[ $word ]] && COMP_WORDS+=("$word")
            word="" kind=""
        elif [[ $c == "\\" ]]; then
            [[ $kind == breaker ]] && COMP_WORDS+=("$word") && word=""
            word+="$c${line:i+1:1}"
            kind=word
            ((i++))
        elif [[ $c == [:=] ]]; then
            [[ $kind == word ]] && COMP_WORDS+=("$word") && word=""
            word+=$c
            kind=breaker
        else
            [[ $kind == breaker ]] && COMP_WORDS+=("$word") && word=""
            word+=$c
            kind=word
        fi
    done
    COMP_WORDS+=("$word")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
}

# complete_with PROGRAM LINE: runs the completion function for LINE as the
# completion of PROGRAM would, and leaves the offers, sorted and one a line,
# in $offers.
complete_with()
{
    local program=$1
    COMP_LINE=$2
    COMP_POINT=${#COMP_LINE}
    split_line "$COMP_LINE"
    COMPREPLY=()
    nospace=no
    local function
    function=$(complete -p tonbrix | sed -n 's/.*-F \([^ ]*\) .*/\1/p')
    "$function" "$program" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    offers=$(printf '%s\n' "${COMPREPLY[@]}" | sort)
}

# expect LINE OFFERS...: the offers for LINE, in any order.
expect()
{
    local line=$1
    shift
    complete_with "$tonbrix" "$line"
    local wanted
    wanted=$( (($# > 0)) && printf '%s\n' "$@" | sort)
    [[ $offers == "$wanted" ]] || fail "'$line' offered [${offers//$'\n'/ }], wanted [${wanted//$'\n'/ }]"
}

complete -p tonbrix | grep -q -- '-F _tonbrix' || fail "no completion registered for tonbrix"
# An empty offer stays empty: readline would fall back to file names.
complete -p tonbrix | grep -qE -- '-o (bash)?default' && fail "empty offers fall back to file names"

p=http://tonbrix.test/plugins

# Options.
expect "tonbrix --comp" --compensate-latency
expect "tonbrix --output-f" --output-format=
expect "tonbrix --outp" --output-format= --output-rate=
expect "tonbrix -j" -j
expect "tonbrix --ver" --version
expect "tonbrix --dither=s" shaped
expect "tonbrix --output-rate=441" 44100
expect "tonbrix --sk" --skip-existing
complete_with "$tonbrix" "tonbrix -"
for option in -l -L -n -i -o -r -P -p -c -s -b -m -q -j -h -V --list --list-presets \
    --nameports --rate= --channels= --preset= --parameters= --connect= --set= --blocksize= \
    --mono --ignore-clipping --compensate-latency --tail= --output-format= --report \
    --report-every= --json -I --info= --quiet --jobs= --batch= --skip-existing --midi= --midi-out= --automate= \
    --save-preset= --preset-dir= \
    --dither --dither= --output-rate= --plugin-rate= --loudness= --true-peak= --measure-loudness \
    --then --help \
    --version; do
    grep -qx -- "$option" <<<"$offers" || fail "option $option not offered"
done

# Plugin URIs: the colon does not split them, and what readline already has
# before the last colon is not offered again.
expect "tonbrix -i in.wav -o out.wav $p/th" //tonbrix.test/plugins/thru //tonbrix.test/plugins/thru2
expect "tonbrix --nameports $p/fr" //tonbrix.test/plugins/freewheel2
expect "tonbrix -L http://tonbrix.test/plugins/pre" //tonbrix.test/plugins/presets
expect "tonbrix -I $p/ann" //tonbrix.test/plugins/annotated
expect "tonbrix --info=$p/ann" //tonbrix.test/plugins/annotated
expect "tonbrix --rep" --report --report-every=
expect "tonbrix -i a.wav -o b.wav --report-every "
expect "tonbrix -i a.wav -o b.wav --report-every 2 $p/mix" //tonbrix.test/plugins/mixed
expect "tonbrix -i a.wav -o b.wav --report-every 2 $p/mixed -p g" gain:
complete_with "$tonbrix" "tonbrix -n "
[[ $offers == "$("$tonbrix" --list | cut -f2 | sort)" ]] || fail "-n did not offer every plugin"
expect "tonbrix -i in.wav -o out.wav $p/nosuch"

# Control port symbols of the plugin on the line, also in a list.
expect "tonbrix -i a.wav -o b.wav $p/mixed -p " gain: bias:
expect "tonbrix -i a.wav -o b.wav $p/mixed -p g" gain:
expect "tonbrix -i a.wav -o b.wav $p/mixed --parameters=b" bias:
expect "tonbrix -i a.wav -o b.wav $p/mixed -p gain:2,b" 2,bias:
[[ $nospace == yes ]] || fail "a symbol is followed by a space"
expect "tonbrix -r 8000 -n 1 -i - -o - $p/thru -p " gain:
# --automate takes one symbol of a control or CV input; the MIDI files are
# values, not the plugin.
expect "tonbrix --tail=1 -o b.wav $p/eventprobe --automate " level: cv:
expect "tonbrix --midi in.mid --midi-out out.mid $p/eventprobe --automate=l" level:
# The plugin first, as the documentation shows it.
expect "tonbrix $p/mixed -p " gain: bias:
expect "tonbrix $p/mixed -i a.wav -o b.wav --parameters=g" gain:
expect "tonbrix $p/presets -P T" Twin
# In a chain, the plugin of the part the cursor is in.
expect "tonbrix --th" --then
expect "tonbrix -i a.wav -o b.wav $p/thru --then $p/mixed -p " gain: bias:
expect "tonbrix -i a.wav -o b.wav $p/mixed --then $p/thru -p " gain:
expect "tonbrix -i a.wav -o b.wav $p/mixed --then -p "
expect "tonbrix $p/thru --then $p/presets -P T" Twin
expect "tonbrix $p/thru --then -b 64 $p/mi" //tonbrix.test/plugins/mixed
# No plugin on the line yet: nothing, not file names, for -p, -s and -P.
expect "tonbrix -i a.wav -o b.wav -p "
expect "tonbrix -p "
expect "tonbrix -i a.wav -o b.wav -P "
expect "tonbrix --preset="
expect "tonbrix -i a.wav -o b.wav -s "
expect "tonbrix --set="

# A new label is typed, not completed; the preset folder is a folder. The
# values do not count as the plugin.
expect "tonbrix $p/mixed --save-preset "
expect "tonbrix --save-preset Loud $p/mixed -p " gain: bias:
expect "tonbrix --preset-dir /tmp $p/mixed -p " gain: bias:

# Preset labels, each once.
expect "tonbrix -i a.wav -o b.wav $p/presets -P T" Twin
complete_with "$tonbrix" "tonbrix -i a.wav -o b.wav $p/presets --preset="
[[ $offers == "$("$tonbrix" -L "$p/presets" | sed 's/^Preset: //' | sort -u)" ]] ||
    fail "--preset= did not offer every label: [$offers]"

# Parameter names, from the Parameters section of the port listing.
stub=$(mktemp)
trap 'rm -f "$stub"' EXIT
cat >"$stub" <<'STUB'
#!/bin/sh
printf '==Audio Ports==\nin: Input\n==Control Ports==\ngain: Gain\n'
printf '==Parameters==\nsample: Sample file\nroom-size: Room size\n'
STUB
chmod +x "$stub"
complete_with "$stub" "tonbrix -i a.wav -o b.wav $p/x -s "
[[ $offers == $'room-size=\nsample=' ]] || fail "-s offered [$offers]"
complete_with "$stub" "tonbrix -i a.wav -o b.wav $p/x --set=r"
[[ $offers == "room-size=" ]] || fail "--set=r offered [$offers]"
[[ $nospace == yes ]] || fail "a parameter name is followed by a space"
complete_with "$stub" "tonbrix -i a.wav -o b.wav $p/x -p "
[[ $offers == "gain:" ]] || fail "-p with parameters offered [$offers]"
expect "tonbrix -i a.wav -o b.wav $p/mixed -s "

# Output formats.
expect "tonbrix --output-format=fl" flac
expect "tonbrix --output-format w" wav wavex w64
expect "tonbrix --output-format=wav:pcm" pcm16 pcm24 pcm32

# File names after -i and -o.
folder=$(mktemp -d)
trap 'rm -f "$stub"; rm -rf "$folder"' EXIT
touch "$folder/drums.wav" "$folder/dialog.flac"
mkdir "$folder/done"
(
    cd "$folder" || exit 1
    expect "tonbrix -i d" drums.wav dialog.flac "done"
    expect "tonbrix -i in.wav -o dr" drums.wav
    exit "$failures"
) || failures=$((failures + $?))

# Labels with spaces come quoted, when the system's plugins are there.
detune=http://drobilla.net/plugins/mda/Detune
if LV2_PATH=/usr/lib/lv2 "$tonbrix" -L "$detune" 2>/dev/null | grep -q '^Preset: .* '; then
    LV2_PATH=/usr/lib/lv2 complete_with "$tonbrix" "tonbrix -i a.wav -o b.wav $detune -P "
    label=$(LV2_PATH=/usr/lib/lv2 "$tonbrix" -L "$detune" | sed -n 's/^Preset: //p' | grep ' ' | head -n 1)
    grep -qxF -- "$(printf '%q' "$label")" <<<"$offers" || fail "label '$label' not offered quoted: [$offers]"
fi

if ((failures > 0)); then
    echo "$failures failure(s)"
    exit 1
fi
echo "all completions as expected"
