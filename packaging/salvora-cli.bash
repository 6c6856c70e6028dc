# bash completion for salvora-cli                                   -*- shell-script -*-
#
# Completes the commands, each command's options and the values some of them take, and file
# names: offline stores and personal folder files (.ost/.pst, in any case) and folders. Works
# with the bash-completion package's helpers when they are loaded, and without them.

_salvora_cli_options() {
    local common="--help --version --codepage"
    case $1 in
        info) echo "$common" ;;
        analyze) echo "$common --json --threads" ;;
        dump) echo "$common --threads" ;;
        convert) echo "$common --dest --folder --format --recover-deleted --temp-files --threads --max-pst-size --from-list --batch-report --report" ;;
        verify) echo "--help --version" ;;
        synth) echo "--help --version --messages --folders --attachments-per-message --seed --client --format --dump --links" ;;
    esac
}

# File names ending in one of the extensions $2 ("ost|pst"), in any case, and folders to go into.
_salvora_cli_files() {
    local cur=$1 extensions=$2
    if declare -F _filedir >/dev/null; then
        # bash-completion's helper quotes names with spaces, expands ~ and matches any case.
        cur=$cur _filedir "$extensions"
        return
    fi
    local restore_extglob
    restore_extglob=$(shopt -p extglob)
    shopt -s extglob
    local IFS=$'\n' name
    for name in $(compgen -f -- "$cur"); do
        if [[ -d $name || ${name,,} == *.@($extensions) ]]; then
            COMPREPLY+=("$name")
        fi
    done
    eval "$restore_extglob"
    # Lets bash quote the names and put a slash after a folder.
    compopt -o filenames 2>/dev/null
}

_salvora_cli_value() {
    local option=$1 cur=$2
    case $option in
        --dest)
            if declare -F _filedir >/dev/null; then
                cur=$cur _filedir -d
            else
                local IFS=$'\n'
                COMPREPLY=($(compgen -d -- "$cur"))
                compopt -o filenames 2>/dev/null
            fi ;;
        --threads) COMPREPLY=($(compgen -W "1 2" -- "$cur")) ;;
        --max-pst-size) COMPREPLY=($(compgen -W "500M 2G 10G 20G 45G" -- "$cur")) ;;
        --client) COMPREPLY=($(compgen -W "pst ost" -- "$cur")) ;;
        --format)
            # synth's is a file format version; convert's what to write ($command is the caller's).
            if [[ $command == convert ]]; then
                COMPREPLY=($(compgen -W "pst mbox eml all" -- "$cur"))
            else
                COMPREPLY=($(compgen -W "23 36" -- "$cur"))
            fi ;;
        --codepage) COMPREPLY=($(compgen -W "1250 1251 1252 1253 1254 1255 1256 1257 1258 874 932 936 949 950" -- "$cur")) ;;
        *) ;;  # a folder path, a number or a seed: nothing to offer
    esac
}

_salvora_cli() {
    COMPREPLY=()
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    # Without bash-completion's word splitting, "--dest=DIR" may reach us as "--dest" "=" "DIR".
    if [[ $cur == = && $prev == --* ]]; then
        cur=""
    elif [[ $prev == = && $COMP_CWORD -ge 2 ]]; then
        prev=${COMP_WORDS[COMP_CWORD-2]}
    fi
    local commands="info analyze dump convert verify synth"

    if [[ $COMP_CWORD -eq 1 ]]; then
        COMPREPLY=($(compgen -W "$commands help --help --version" -- "$cur"))
        return
    fi
    local command=${COMP_WORDS[1]}
    if [[ $command == help ]]; then
        [[ $COMP_CWORD -eq 2 ]] && COMPREPLY=($(compgen -W "$commands" -- "$cur"))
        return
    fi
    local options
    options=$(_salvora_cli_options "$command")
    [[ -z $options ]] && return

    # verify reads, and synth writes, only personal folder files.
    local extensions="ost|pst"
    [[ $command == verify || $command == synth ]] && extensions=pst

    # After "--", everything is a file.
    local i
    for ((i = 2; i < COMP_CWORD; i++)); do
        if [[ ${COMP_WORDS[i]} == -- ]]; then
            _salvora_cli_files "$cur" "$extensions"
            return
        fi
    done

    if [[ $cur == --*=* ]]; then
        # "=" is not a word break here: the option stays in the word and goes before each value.
        _salvora_cli_value "${cur%%=*}" "${cur#*=}"
        COMPREPLY=("${COMPREPLY[@]/#/${cur%%=*}=}")
        return
    fi
    case " $options " in
        *" $prev "*)
            case $prev in
                --help | --version | --json | --recover-deleted | --temp-files | --dump) ;;
                *) _salvora_cli_value "$prev" "$cur"; return ;;
            esac ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi
    _salvora_cli_files "$cur" "$extensions"
}

complete -F _salvora_cli salvora-cli
