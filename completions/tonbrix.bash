# bash completion for tonbrix                               -*- shell-script -*-
#
# Options; plugin URIs (from `tonbrix --list`) for the plugin and after
# -n/-L/-I; control port symbols of the plugin on the line after -p and
# --automate; its preset labels (and preset bundles) after -P; its parameter
# names after -s; file names after -i, -o, --midi and --midi-out; folders
# after --preset-dir; nothing after --save-preset (a new label).
# In a chain (plugins joined by --then) the plugin is the one of the part the
# cursor is in. Without a plugin there, -p, -P and -s offer nothing.

# The plugin on the line: the first word that is neither an option nor an
# option's value, within the words between the --then before the cursor and
# the --then after it (a chain's plugins each have their own options).
# Prints nothing when there is none.
_tonbrix_plugin_on_line()
{
    local i word first=1 last=${#words[@]}
    for ((i = 1; i < ${#words[@]}; i++)); do
        if [[ ${words[i]} == --then ]]; then
            ((i < cword)) && first=$((i + 1))
            ((i > cword && i < last)) && last=$i
        fi
    done
    for ((i = first; i < last; i++)); do
        ((i == cword)) && continue
        word=${words[i]}
        case $word in
            --) continue ;;
            -i | -o | -r | -P | -p | -c | -b | -s | -j | --rate | --channels | --preset | \
                --parameters | --connect | --blocksize | --set | --jobs | --tail | \
                --output-format | --report-every | --midi | --midi-out | --automate | --batch | \
                --save-preset | --preset-dir | --output-rate | --plugin-rate | --loudness | \
                --true-peak)
                ((i++))
                ;;
            -n)
                # -n N is a channel count; -n PLUGIN lists the plugin's ports.
                [[ ${words[i + 1]-} == +([0-9]) ]] && ((i++))
                ;;
            -*) ;;
            *)
                printf '%s\n' "$word"
                return
                ;;
        esac
    done
}

# The lines of one section ("==Name==") of `tonbrix --nameports`, up to ": ".
_tonbrix_port_section()
{
    local program=$1 plugin=$2 section=$3
    "$program" --nameports "$plugin" 2>/dev/null |
        awk -v header="==$section==" '
            /^==.*==$/ { inside = ($0 == header); next }
            inside { sub(/: .*$/, ""); print }'
}

_tonbrix()
{
    local cur prev words cword split
    _init_completion -s -n : || return

    local program=$1
    local plugin

    case $prev in
        -i | -o | --midi-out)
            # A folder runs every sound file in it.
            _filedir
            return
            ;;
        --batch)
            _filedir
            [[ $cur == - || -z $cur ]] && COMPREPLY+=(-)
            return
            ;;
        --midi)
            _filedir '@(mid|midi|MID|MIDI|smf)'
            return
            ;;
        --automate)
            plugin=$(_tonbrix_plugin_on_line)
            [[ $plugin ]] || return
            local symbol symbols=()
            for symbol in $(_tonbrix_port_section "$program" "$plugin" "Control Ports"); do
                symbols+=("$symbol:")
            done
            mapfile -t COMPREPLY < <(compgen -W "${symbols[*]}" -- "$cur")
            compopt -o nospace
            __ltrim_colon_completions "$cur"
            return
            ;;
        --preset-dir)
            _filedir -d
            return
            ;;
        -r | --rate | --channels | -b | --blocksize | -j | --jobs | --tail | --report-every | \
            --save-preset | --loudness | --true-peak)
            return
            ;;
        --output-rate | --plugin-rate)
            mapfile -t COMPREPLY < <(compgen -W "16000 22050 44100 48000 88200 96000" -- "$cur")
            return
            ;;
        --dither)
            mapfile -t COMPREPLY < <(compgen -W "triangular shaped" -- "$cur")
            return
            ;;
        -n | --nameports | -L | --list-presets | -I | --info)
            mapfile -t COMPREPLY < <(compgen -W "$("$program" --list 2>/dev/null | cut -f2)" -- "$cur")
            __ltrim_colon_completions "$cur"
            return
            ;;
        -p | --parameters)
            plugin=$(_tonbrix_plugin_on_line)
            [[ $plugin ]] || return
            # After a comma, the next symbol of the list.
            local head=""
            [[ $cur == *,* ]] && head=${cur%,*},
            local symbol symbols=()
            for symbol in $(_tonbrix_port_section "$program" "$plugin" "Control Ports"); do
                symbols+=("$head$symbol:")
            done
            mapfile -t COMPREPLY < <(compgen -W "${symbols[*]}" -- "$cur")
            compopt -o nospace
            __ltrim_colon_completions "$cur"
            return
            ;;
        -s | --set)
            plugin=$(_tonbrix_plugin_on_line)
            [[ $plugin ]] || return
            local names=()
            local name
            for name in $(_tonbrix_port_section "$program" "$plugin" "Parameters"); do
                names+=("$name=")
            done
            mapfile -t COMPREPLY < <(compgen -W "${names[*]}" -- "$cur")
            compopt -o nospace
            return
            ;;
        -P | --preset)
            plugin=$(_tonbrix_plugin_on_line)
            [[ $plugin ]] || return
            # Labels may hold spaces: match them whole, and quote them.
            local label typed
            typed=$(dequote "$cur")
            while IFS= read -r label; do
                [[ $label == "$typed"* ]] && COMPREPLY+=("$(printf '%q' "$label")")
            done < <("$program" --list-presets "$plugin" 2>/dev/null |
                sed -n 's/^Preset: //p' | sort -u)
            return
            ;;
        -c | --connect)
            return
            ;;
        --output-format)
            local types="wav wavex w64 rf64 aiff caf au flac ogg raw"
            local encodings="pcm16 pcm24 pcm32 float double vorbis"
            if [[ $cur == *:* ]]; then
                mapfile -t COMPREPLY < <(compgen -P "${cur%%:*}:" -W "$encodings" -- "${cur#*:}")
                __ltrim_colon_completions "$cur"
            else
                mapfile -t COMPREPLY < <(compgen -W "$types" -- "$cur")
            fi
            return
            ;;
    esac
    $split && return

    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W '-l --list -L --list-presets -n --nameports
            -i -o -r --rate= --channels= -P --preset= -p --parameters= -c --connect= -s
            --set= -b --blocksize= -m --mono --ignore-clipping --compensate-latency
            --tail= --output-format= --report --report-every= --json -I --info= -q --quiet
            -j --jobs= --batch= --skip-existing --midi= --midi-out= --automate= --save-preset=
            --preset-dir= --dither --dither= --output-rate= --plugin-rate= --loudness= --true-peak=
            --measure-loudness --then -h --help -V --version' -- "$cur")
        [[ ${COMPREPLY-} == *= ]] && compopt -o nospace
        return
    fi

    mapfile -t COMPREPLY < <(compgen -W "$("$program" --list 2>/dev/null | cut -f2)" -- "$cur")
    __ltrim_colon_completions "$cur"
} &&
    complete -F _tonbrix tonbrix

# ex: filetype=sh
