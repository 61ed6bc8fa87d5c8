#!/usr/bin/env bash
# Sends an address book to a real handheld on a serial line, through the
# real imex.dll under Wine: builds a record file from vCards, checks the
# port, maps it as COM1 (COM2 stays unmapped), runs the transfer with
# imexhost answering every message box, and ends with one line that says
# what became of each record.
set -uo pipefail

USAGE='usage: scripts/send.sh [--trace FILE [--json]] [--charset NAME] [--no-build] PORT FILE...

Sends FILE (a record file, or one or more vCard files: *.vcf, *.vcard) to the
handheld on the serial line PORT (e.g. /dev/ttyUSB0) with the real imex.dll
under Wine: 32-bit where this machine runs 32-bit programs, else 64-bit
(IMEX_WINE_ARCH=win32 or win64 chooses). Message boxes are answered and
their texts shown; the last line says what became of the records:
  N records: S stored, R refused (records i, j), F line faults (records k)

  --trace FILE  also write what went over the line, frame by frame (pdatap)
  --json        the trace as JSON lines
  --charset NAME  the character set of vCard text that declares none (e.g. gbk, as
                Outlook and older phones write it); UTF-8 when not given
  --no-build    use the tools as they are built (no setup, no build)
  --help        this text

Exit status: 0 every record stored; 2 FILE cannot be read (or the record
file cannot be opened); 3 FILE is refused (not a valid record file, or vCards
that give no record file); 7 no device answered on PORT; 8 the device refused
records; 9 records failed on the line (none refused); 10 PORT cannot be used
(missing, no serial line, no permission, held by another program);
101 bad usage; 125 the tools or Wine could not be prepared.'

EXIT_CANNOT_READ=2
EXIT_REFUSED_FILE=3
EXIT_NO_DEVICE=7
EXIT_PORT=10
EXIT_USAGE=101
EXIT_PREPARE=125

say() { printf 'send: %s\n' "$*"; }
usage_error() { say "$*" >&2; echo "(scripts/send.sh --help shows the usage)" >&2; exit $EXIT_USAGE; }
port_error() { say "$*" >&2; exit $EXIT_PORT; }

trace=""
json=""
charset=()
build=1
args=()
while [ $# -gt 0 ]; do
    case "$1" in
        -h|--help) echo "$USAGE"; exit 0 ;;
        --trace)
            [ $# -ge 2 ] && [ -n "$2" ] || usage_error "--trace needs a file name"
            trace=$2; shift 2 ;;
        --json) json=1; shift ;;
        --charset)
            [ $# -ge 2 ] && [ -n "$2" ] || usage_error "--charset needs the name of a character set"
            charset=(--charset "$2"); shift 2 ;;
        --no-build) build=""; shift ;;
        --) shift; args+=("$@"); break ;;
        -*) usage_error "unknown option $1" ;;
        *) args+=("$1"); shift ;;
    esac
done
[ ${#args[@]} -ge 2 ] || usage_error "give a PORT and at least one FILE"
[ -z "$json" ] || [ -n "$trace" ] || usage_error "--json goes with --trace FILE"
port=${args[0]}
inputs=("${args[@]:1}")

vcards=()
record_file=""
for input in "${inputs[@]}"; do
    if [ ! -e "$input" ]; then say "cannot read $input: no such file" >&2; exit $EXIT_CANNOT_READ; fi
    if [ ! -f "$input" ] || [ ! -r "$input" ]; then
        say "cannot read $input: not a readable file" >&2; exit $EXIT_CANNOT_READ
    fi
    case "${input,,}" in
        *.vcf|*.vcard) vcards+=("$(realpath "$input")") ;;
        *) [ -z "$record_file" ] || usage_error "one record file at a time: $record_file and $input"
           record_file=$(realpath "$input") ;;
    esac
done
[ -z "$record_file" ] || [ ${#vcards[@]} -eq 0 ] ||
    usage_error "a record file or vCard files, not both: $record_file and ${vcards[0]}"
if [ -n "$trace" ]; then
    for input in "${inputs[@]}"; do
        [ "$(realpath -m "$trace")" != "$(realpath "$input")" ] || usage_error "--trace $trace would overwrite $input"
    done
    [ ! -d "$trace" ] || usage_error "--trace $trace is a folder"
    # Named from where the user stands; the script works from the repository.
    trace=$(realpath -m "$trace")
    [ -d "$(dirname "$trace")" ] || usage_error "--trace $trace: there is no folder $(dirname "$trace")"
fi

# The port, before anything starts: a wrong name, a missing permission or
# another program on the line would otherwise all end as "no device answered".
check_port() {
    local real name lock pid holders=() comm err
    [ -e "$port" ] ||
        port_error "no such port: $port (ls /dev/ttyUSB* /dev/ttyACM* /dev/ttyS* lists the serial lines there are)"
    real=$(realpath "$port")
    port_real=$real
    [ -c "$real" ] || port_error "$port is not a serial line (a character device such as /dev/ttyUSB0)"
    if [ ! -r "$real" ] || [ ! -w "$real" ]; then
        local group
        group=$(stat -L -c %G "$real")
        port_error "you ($(id -un)) may not read and write $port ($(stat -L -c '%A %U:%G' "$real")): add yourself to" \
            "the group $group (sudo usermod -aG $group $(id -un)), then log in again"
    fi
    # Opened without waiting for a carrier, as the transfer will open it.
    if ! err=$(stty -F "$real" 2>&1 >/dev/null); then
        case "$err" in
            *busy*) port_error "$port is held exclusively by another program (ModemManager does that:" \
                        "sudo systemctl stop ModemManager): $err" ;;
            *) port_error "$port cannot be used as a serial line: $err" ;;
        esac
    fi
    # The UUCP lock file that pdasim, pdatap, minicom and picocom take.
    name=${real#/dev/}
    lock="/run/lock/LCK..${name//\//_}"
    if [ -r "$lock" ]; then
        pid=$(tr -dc '0-9' < "$lock" | head -c 10)
        if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
            comm=$(cat "/proc/$pid/comm" 2>/dev/null || echo "a program")
            port_error "$port is in use: $comm (pid $pid) holds its lock file $lock"
        fi
    fi
    for pid in $(fuser "$real" 2>/dev/null); do
        comm=$(cat "/proc/$pid/comm" 2>/dev/null || echo "?")
        holders+=("$comm (pid $pid)")
        if [ "$comm" = ModemManager ]; then
            modem_manager=1
        fi
    done
    if [ ${#holders[@]} -gt 0 ]; then
        if [ -n "${modem_manager:-}" ]; then
            port_error "$port is held by another program: ${holders[*]}. ModemManager probes every new serial line" \
                "for a modem: stop it while you send (sudo systemctl stop ModemManager), or tell it to leave this" \
                "device alone (a udev rule setting ENV{ID_MM_DEVICE_IGNORE}=\"1\")"
        fi
        port_error "$port is held by another program: ${holders[*]}; end it first"
    fi
}
check_port

cd "$(dirname "$0")/.." || exit $EXIT_PREPARE
repo=$(pwd)
work="$repo/build/send"
mkdir -p "$work" || exit $EXIT_PREPARE

# The 32-bit DLL is the product; where this machine cannot run 32-bit
# programs, the 64-bit build of the same sources stands in for it.
if [ -z "${IMEX_WINE_ARCH:-}" ]; then
    # (The probe of a machine without 32-bit support dies; the shell would report it.)
    if bash scripts/runs-i386.sh 2>/dev/null; then IMEX_WINE_ARCH=win32; else IMEX_WINE_ARCH=win64; fi
fi
case "$IMEX_WINE_ARCH" in
    win32) preset=windows; bits=32 ;;
    win64) preset=windows64; bits=64 ;;
    *) usage_error "IMEX_WINE_ARCH must be win32 or win64, not $IMEX_WINE_ARCH" ;;
esac
export IMEX_WINE_ARCH
say "using the ${bits}-bit imex.dll (build/$preset)"

if [ -n "$build" ]; then
    prepare_log="$work/prepare.log"
    say "setting up and building (log: $prepare_log)"
    if ! { bash scripts/setup.sh &&
           cmake --preset native && cmake --build --preset native -j2 --target pdatap recfile &&
           cmake --preset "$preset" && cmake --build --preset "$preset" -j2 --target imex imexhost
         } >"$prepare_log" 2>&1; then
        tail -n 20 "$prepare_log" >&2
        say "setting up or building failed; the whole log is $prepare_log" >&2
        exit $EXIT_PREPARE
    fi
fi
imexhost="$repo/build/$preset/bin/imexhost.exe"
recfile="$repo/build/native/tools/recfile/recfile"
pdatap="$repo/build/native/tools/pdatap/pdatap"
for tool in "$imexhost" "$recfile" ${trace:+"$pdatap"}; do
    [ -e "$tool" ] || { say "no $tool: build it first (without --no-build)" >&2; exit $EXIT_PREPARE; }
done

if [ ${#vcards[@]} -gt 0 ]; then
    record_file="$work/book.rec"
    say "building $record_file from ${vcards[*]}"
    if ! "$recfile" build --vcard --replace "${charset[@]}" "${vcards[@]}" "$record_file"; then
        say "the vCard file(s) give no record file (recfile's reason above)" >&2
        exit $EXIT_REFUSED_FILE
    fi
fi

source tests/wine/wineenv.sh
com1="$IMEX_WINE_PORTS/COM1"
com2="$IMEX_WINE_PORTS/COM2"
mkdir -p "$IMEX_WINE_PORTS"
tap_pid=""
finish() {
    if [ -n "$tap_pid" ]; then
        kill -TERM "$tap_pid" 2>/dev/null
        wait "$tap_pid" 2>/dev/null
    fi
    # The mapping was for this transfer only.
    if [ "$(readlink "$com1" 2>/dev/null)" = "$port_real" ]; then rm -f "$com1"; fi
}
trap finish EXIT
trap 'exit 130' INT TERM

# Unmapped, the library finds no COM2 at once instead of trying a stale link.
if [ -L "$com2" ]; then rm -f "$com2"; fi
port_args=()
if [ -n "$trace" ]; then
    tap_out="$work/pdatap.out"
    tap_err="$work/pdatap.err"
    # A session of its own: the pseudo-terminal must be nobody's controlling terminal.
    setsid "$pdatap" --device "$port_real" --pty "$com1" --trace "$trace" ${json:+--json} \
        >"$tap_out" 2>"$tap_err" &
    tap_pid=$!
    for _ in $(seq 1 100); do
        grep -q '^pdatap: ready' "$tap_out" 2>/dev/null && break
        kill -0 "$tap_pid" 2>/dev/null || break
        sleep 0.1
    done
    if ! grep -q '^pdatap: ready' "$tap_out" 2>/dev/null; then
        cat "$tap_err" >&2
        say "the line tap did not start on $port" >&2
        tap_pid=""
        exit $EXIT_PORT
    fi
else
    port_args=(--port "COM1=$port_real")
fi

say "sending $record_file to the device on $port (COM1)"
host_log="$work/imexhost.log"
summary=""
status_file="$work/imexhost.status"
{
    bash tests/wine/winerun.sh "${port_args[@]}" -- "$imexhost" --answer-boxes "Z:${record_file//\//\\}"
    echo $? >"$status_file"
} 2>&1 | tee "$host_log" | while IFS= read -r line; do
    line=${line%$'\r'}
    case "$line" in
        [0-9]*" records: "*|"no record sent: "*) ;;  # shown last, below
        *) printf '%s\n' "$line" ;;
    esac
done
status=$(cat "$status_file" 2>/dev/null || echo $EXIT_PREPARE)
summary=$(tr -d '\r' <"$host_log" | grep -E '^([0-9]+ records: |no record sent: )' | tail -n 1)

finish
trap - EXIT
if [ -n "$trace" ]; then
    say "wire trace: $trace ($(wc -l <"$trace") lines)"
fi
case "$status" in
    7) summary="no record sent: no device answered on $port (is it on, connected and waiting for a connection?)" ;;
    10) summary="no record sent: $port cannot be opened through Wine (${summary#*(}" ;;
esac
if [ -z "$summary" ]; then
    summary="imexhost ended with status $status without a summary (its output: $host_log)"
fi
echo "$summary"
exit "$status"
