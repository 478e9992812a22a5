# bash completion for orvane-update: its commands, each command's options, firmware files
# (.ace) and folders, CSV files for --record, and the serial ports present.
#
# The ports are read from sysfs and /dev/serial/by-id; no port is ever opened, so a Tab sends
# nothing to a unit. Keep the options in step with the program's own table (src/cli/Arguments.cpp).

_orvane_update_ports() {
    local tty name
    for tty in /sys/class/tty/ttyUSB* /sys/class/tty/ttyACM*; do
        [ -e "$tty/device" ] || continue
        name=${tty##*/}
        printf '%s\n' "/dev/$name"
    done
    for name in /dev/serial/by-id/*; do
        [ -e "$name" ] && printf '%s\n' "$name"
    done
}

_orvane_update() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    local command=${COMP_WORDS[1]}
    COMPREPLY=()

    # "--port=/dev/tty": bash splits the word at "=".
    if [ "$prev" = "=" ] && [ "$COMP_CWORD" -ge 3 ]; then
        prev=${COMP_WORDS[COMP_CWORD - 2]}
    elif [ "$cur" = "=" ]; then
        prev=${COMP_WORDS[COMP_CWORD - 1]}
        cur=
    fi

    if [ "$COMP_CWORD" -eq 1 ]; then
        mapfile -t COMPREPLY < <(compgen -W "list check update watch doctor --help -h --version -V" -- "$cur")
        return 0
    fi

    case $prev in
    --port | -p)
        mapfile -t COMPREPLY < <(compgen -W "$(_orvane_update_ports)" -- "$cur")
        return 0
        ;;
    --serial | -s)
        return 0
        ;;
    --record)
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -f -X '!*.[cC][sS][vV]' -- "$cur"; compgen -d -- "$cur")
        return 0
        ;;
    esac

    local options="--help -h --json --quiet -q --verbose -v"
    case $command in
    check) options+=" --port -p --serial -s" ;;
    update) options+=" --port -p --serial -s --all -a --yes -y --verify --allow-downgrade --record" ;;
    watch) options+=" --yes -y --verify --allow-downgrade --record" ;;
    list | doctor) ;;
    help | --help | -h)
        [ "$COMP_CWORD" -eq 2 ] &&
            mapfile -t COMPREPLY < <(compgen -W "list check update watch doctor" -- "$cur")
        return 0
        ;;
    *) return 0 ;;
    esac

    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
        return 0
    fi
    case $command in
    check | update | watch)
        # The firmware file, or a folder of them.
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -f -X '!*.[aA][cC][eE]' -- "$cur"; compgen -d -- "$cur")
        ;;
    esac
    return 0
}

complete -F _orvane_update orvane-update
