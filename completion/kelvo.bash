# bash completion for kelvo: its commands, each command's options, and the file kinds they take.
# shellcheck shell=bash

# Adds to COMPREPLY the directories that start with $1, and the files whose name ends in one
# of the extensions listed in $2 (space-separated, lower case; matched in any case). With $3
# "any", every file is offered when none has such an extension.
_kelvo_files() {
    local cur=$1 extensions=" $2 " fallback=${3-} path real extension
    # Completion works on the word as typed; an opening quote or backslashes are not part of
    # the name.
    cur=${cur#[\'\"]}
    cur=${cur//\\/}
    local -a directories=() matching=() others=()
    while IFS= read -r path; do
        [[ -n $path ]] && directories+=("$path")
    done < <(compgen -d -- "$cur")
    while IFS= read -r path; do
        [[ -z $path ]] && continue
        # compgen keeps a leading "~/" as typed.
        real=$path
        [[ $real == \~/* ]] && real=$HOME/${real#\~/}
        [[ -d $real ]] && continue
        extension=${path##*/}
        if [[ $extension == *.* ]]; then
            extension=${extension##*.}
            if [[ $extensions == *" ${extension,,} "* ]]; then
                matching+=("$path")
                continue
            fi
        fi
        others+=("$path")
    done < <(compgen -f -- "$cur")
    if ((${#matching[@]} == 0)) && [[ $fallback == any ]]; then
        matching=("${others[@]}")
    fi
    COMPREPLY+=("${directories[@]}" "${matching[@]}")
    # Let readline quote the names and mark directories with a slash.
    compopt -o filenames 2>/dev/null
    return 0
}

# Adds to COMPREPLY the words of $2 that start with $1.
_kelvo_words() {
    local word
    while IFS= read -r word; do
        [[ -n $word ]] && COMPREPLY+=("$word")
    done < <(compgen -W "$2" -- "$1")
    return 0
}

# Counts the operands among words[$1] .. words[cword-1]: words that are neither options nor the
# value of one of the options listed in $2 (space-separated).
_kelvo_count_operands() {
    local -i i=$1 count=0
    local valued=" $2 " word
    local options_ended=
    while ((i < cword)); do
        word=${words[i]}
        if [[ -n $options_ended || $word != -?* ]]; then
            [[ $word != "=" ]] && count+=1
        elif [[ $word == -- ]]; then
            options_ended=1
        elif [[ $word != *=* && $valued == *" $word "* ]]; then
            # Without bash-completion, "--opt=value" arrives as "--opt" "=" "value".
            [[ ${words[i + 1]-} == "=" ]] && i+=1
            i+=1
        fi
        i+=1
    done
    echo "$count"
}

_kelvo() {
    # split is set by _init_completion -s.
    # shellcheck disable=SC2034
    local cur prev words cword split
    if declare -F _init_completion >/dev/null 2>&1; then
        _init_completion -s || return
    else
        COMPREPLY=()
        words=("${COMP_WORDS[@]}")
        cword=$COMP_CWORD
        cur=${words[cword]-}
        prev=${words[cword - 1]-}
        # Without bash-completion, "--opt=value" arrives as "--opt" "=" "value".
        if [[ $cur == "=" ]]; then
            cur=
        elif [[ $prev == "=" ]]; then
            prev=${words[cword - 2]-}
        fi
    fi

    local palettes="pcx pal gpl act hex png"
    local images="png exr"

    # The command: the first word that is no option, past "--plugin PATH".
    local -i i=1 command_at=0
    local command=
    while ((i < cword)); do
        case ${words[i]} in
            --plugin)
                [[ ${words[i + 1]-} == "=" ]] && i+=1
                i+=2
                continue
                ;;
            -*) ;;
            *)
                command=${words[i]}
                command_at=$i
                break
                ;;
        esac
        i+=1
    done

    # A value of the global option, wherever it stands.
    if [[ $prev == --plugin ]]; then
        _kelvo_files "$cur" "flt" any
        return 0
    fi

    if [[ -z $command ]]; then
        if [[ $cur == -* ]]; then
            _kelvo_words "$cur" "--plugin --help --version"
        else
            _kelvo_words "$cur" "render settings palette swap demo configure about help"
        fi
        return 0
    fi

    # The subcommand of settings and palette: the first word after the command that is no option.
    local subcommand=
    if [[ $command == settings || $command == palette ]]; then
        for ((i = command_at + 1; i < cword; i++)); do
            if [[ ${words[i]} != -* ]]; then
                subcommand=${words[i]}
                command_at=$i
                break
            fi
        done
    fi

    case $command in
        render)
            case $prev in
                --palette)
                    _kelvo_files "$cur" "$palettes"
                    return 0
                    ;;
                --settings)
                    _kelvo_files "$cur" "settings toml" any
                    return 0
                    ;;
                --save-settings)
                    _kelvo_files "$cur" "settings" any
                    return 0
                    ;;
                --ids)
                    _kelvo_files "$cur" "png"
                    return 0
                    ;;
                --png | --preview | --sheet)
                    _kelvo_files "$cur" "png"
                    return 0
                    ;;
                --bmp)
                    _kelvo_files "$cur" "bmp"
                    return 0
                    ;;
                --gif)
                    _kelvo_files "$cur" "gif"
                    return 0
                    ;;
                --output)
                    _kelvo_files "$cur" "pcx"
                    return 0
                    ;;
                --method)
                    _kelvo_words "$cur" "uniform nearest"
                    return 0
                    ;;
                --source)
                    _kelvo_words "$cur" "material object"
                    return 0
                    ;;
                --window)
                    _kelvo_words "$cur" "display data"
                    return 0
                    ;;
                --palette-depth)
                    _kelvo_words "$cur" "6 8"
                    return 0
                    ;;
                --levels)
                    _kelvo_words "$cur" "auto"
                    return 0
                    ;;
                --id-map | --id-channel | --layer | --view | --background-id | \
                    --alpha-threshold | --start | --frames | --range | --reserve | --fps | \
                    --transparent | --gif-scale | --columns | --sheet-padding | \
                    -j | --jobs | --frame-cache | --max-pixels | --frame-timeout)
                    # A number, a name or a list: nothing to offer.
                    return 0
                    ;;
            esac
            local options_ended=
            for ((i = command_at + 1; i < cword; i++)); do
                [[ ${words[i]} == -- ]] && options_ended=1
            done
            if [[ -z $options_ended && $cur == -* ]]; then
                _kelvo_words "$cur" "--ids --id-map --id-channel --layer --view --linear
                    --window --background-id --alpha-threshold --levels --start --frames
                    --skip-existing --settings --palette --palette-depth --range --reserve
                    --method --source --output --save-settings --png --preview --bmp --bmp-rle --gif
                    --fps --gif-scale --sheet --columns --sheet-padding --transparent -q --quiet
                    -j --jobs --frame-cache --max-pixels
                    --frame-timeout --plugin --help"
            else
                _kelvo_files "$cur" "$images"
            fi
            ;;
        settings)
            if [[ -z $subcommand ]]; then
                if [[ $cur == -* ]]; then
                    _kelvo_words "$cur" "--help"
                else
                    _kelvo_words "$cur" "show new convert"
                fi
                return 0
            fi
            if [[ $subcommand == show ]]; then
                if [[ $cur == -* ]]; then
                    _kelvo_words "$cur" "--help"
                elif (($(_kelvo_count_operands $((command_at + 1)) "") == 0)); then
                    _kelvo_files "$cur" "settings" any
                fi
                return 0
            fi
            if [[ $subcommand == convert ]]; then
                if [[ $prev == --to ]]; then
                    _kelvo_words "$cur" "block text"
                elif [[ $cur == -* ]]; then
                    _kelvo_words "$cur" "--to --help"
                elif (($(_kelvo_count_operands $((command_at + 1)) "--to") < 2)); then
                    _kelvo_files "$cur" "settings toml" any
                fi
                return 0
            fi
            [[ $subcommand == new ]] || return 0
            case $prev in
                --palette)
                    _kelvo_files "$cur" "$palettes"
                    ;;
                -o)
                    _kelvo_files "$cur" "settings" any
                    ;;
                --output)
                    _kelvo_files "$cur" "pcx"
                    ;;
                --method)
                    _kelvo_words "$cur" "uniform nearest"
                    ;;
                --source)
                    _kelvo_words "$cur" "material object"
                    ;;
                --palette-depth)
                    _kelvo_words "$cur" "6 8"
                    ;;
                --range) ;;
                *)
                    _kelvo_words "$cur" "--palette --palette-depth --range --method --source
                        --output -o --help"
                    ;;
            esac
            ;;
        palette)
            if [[ -z $subcommand ]]; then
                if [[ $cur == -* ]]; then
                    _kelvo_words "$cur" "--help"
                else
                    _kelvo_words "$cur" "show convert"
                fi
                return 0
            fi
            case $prev in
                --png)
                    [[ $subcommand == show ]] && _kelvo_files "$cur" "png"
                    return 0
                    ;;
                --palette-depth)
                    _kelvo_words "$cur" "6 8"
                    return 0
                    ;;
            esac
            local -i operands
            operands=$(_kelvo_count_operands $((command_at + 1)) "--png --palette-depth")
            if [[ $cur == -* ]]; then
                if [[ $subcommand == show ]]; then
                    _kelvo_words "$cur" "--png --palette-depth --help"
                else
                    _kelvo_words "$cur" "--palette-depth --help"
                fi
            elif ((operands == 0)); then
                _kelvo_files "$cur" "$palettes"
            elif [[ $subcommand == convert ]] && ((operands == 1)); then
                _kelvo_files "$cur" "pcx"
            fi
            ;;
        swap)
            case $prev in
                --palette)
                    _kelvo_files "$cur" "$palettes"
                    return 0
                    ;;
                --palette-depth)
                    _kelvo_words "$cur" "6 8"
                    return 0
                    ;;
                -o | --output)
                    _kelvo_files "$cur" "pcx png bmp gif"
                    return 0
                    ;;
                --map) return 0 ;;
            esac
            if [[ $cur == -* ]]; then
                _kelvo_words "$cur" "--map --palette --palette-depth --output -o --in-place --help"
            else
                _kelvo_files "$cur" "pcx png bmp gif"
            fi
            ;;
        demo)
            if [[ $cur == -* ]]; then
                _kelvo_words "$cur" "-q --quiet --help"
            elif (($(_kelvo_count_operands $((command_at + 1)) "") == 0)); then
                # No extension listed: directories only.
                _kelvo_files "$cur" ""
            fi
            ;;
        configure)
            if [[ $cur == -* ]]; then
                _kelvo_words "$cur" "--help"
            elif (($(_kelvo_count_operands $((command_at + 1)) "") == 0)); then
                _kelvo_files "$cur" "settings" any
            fi
            ;;
        about)
            [[ $cur == -* ]] && _kelvo_words "$cur" "--help"
            ;;
    esac
    return 0
}

complete -F _kelvo kelvo
