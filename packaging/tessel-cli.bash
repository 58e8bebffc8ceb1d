# bash completion for tessel-cli: its commands, each command's options, the preset numbers,
# folders after --output and file names elsewhere.
_tessel_cli() {
    local current=${COMP_WORDS[COMP_CWORD]}
    local previous=${COMP_WORDS[COMP_CWORD - 1]}
    local command="" word
    for word in "${COMP_WORDS[@]:1:COMP_CWORD-1}"; do
        case $word in
            split | join | verify | repair)
                command=$word
                break
                ;;
        esac
    done
    if [[ -z $command ]]; then
        mapfile -t COMPREPLY < <(compgen -W "split join verify repair --help --version" -- "$current")
        return
    fi

    case $previous in
        -o | --output)
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -d -- "$current")
            return
            ;;
        -p | --preset)
            # The numbers the program itself lists under "Presets:".
            local numbers
            numbers=$("${COMP_WORDS[0]}" split --help 2>/dev/null |
                sed -n '/^Presets:/,$s/^ *\([0-9][0-9]*\)  .*/\1/p')
            mapfile -t COMPREPLY < <(compgen -W "$numbers" -- "$current")
            return
            ;;
        -s | --size | -r | --recovery)
            return
            ;;
    esac

    local options="--quiet --help"
    case $command in
        split) options+=" --size --preset --output --batch --recovery" ;;
        join) options+=" --force" ;;
    esac
    if [[ $current == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$options" -- "$current")
        return
    fi
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -f -- "$current")
}
complete -F _tessel_cli tessel-cli
