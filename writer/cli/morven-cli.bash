# bash completion for morven-cli
_morven_cli() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    case $prev in
        -p | --port)
            local ports=(COM{1..10}) device
            for device in /dev/ttyUSB* /dev/ttyACM* /dev/serial/by-id/*; do
                [[ -e $device ]] && ports+=("$device")
            done
            mapfile -t COMPREPLY < <(compgen -W "${ports[*]}" -- "$cur")
            return
            ;;
        -k | --kernel | --log | --recipe | --serial-list | --serial-state | --serial-load-list)
            mapfile -t COMPREPLY < <(compgen -f -- "$cur")
            return
            ;;
        --binary-at | --serial-at | --serial-format | --serial-start | --serial-step)
            return
            ;;
    esac
    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "--port --kernel --quiet --check --strict --json
            --log --no-log --binary-at --recipe --serial-at --serial-format --serial-start
            --serial-step --serial-list --serial-state --serial-load-list --serial-make-counter
            --list-ports --help --help-all
            --version" -- "$cur")
        return
    fi
    # The firmware file: folders to go on into, and S-record, Intel HEX, ELF and binary files.
    mapfile -t COMPREPLY < <(compgen -d -- "$cur"
        compgen -f -- "$cur" | grep -iE '\.(mot|srec|s19|s28|s37|hex|ihx|elf|bin)$')
}
complete -o filenames -F _morven_cli morven-cli
