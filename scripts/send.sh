#!/usr/bin/env bash
# Sends an address book to real handhelds on serial lines: builds a record
# file from vCards and sends it with the native sender imexsend (no Wine, no
# display), or with --dll through the real imex.dll under Wine, with
# imexhost answering every message box. Ends with one line per port that
# says what became of each record.
set -uo pipefail
# Named by the caller, before scripts/common.sh gives it a default.
native_named=${IMEX_NATIVE_BUILD:-}

USAGE='usage: scripts/send.sh [--only LIST] [--trace FILE [--json]] [--charset NAME] [--no-build] PORT[,PORT...] FILE...
       scripts/send.sh --dll [--trace FILE [--json]] [--charset NAME] [--no-build] PORT FILE...

Sends FILE (a record file, or one or more vCard files: *.vcf, *.vcard) to the
handheld on the serial line PORT (e.g. /dev/ttyUSB0) with the native sender
imexsend, which does on the line what imex.dll does on COM1. Several PORTs,
separated by commas (/dev/ttyUSB0,/dev/ttyUSB1), each get the whole book at the
same time. The last line (per port, prefixed with the port when there are
several) says what became of the records:
  N records: S stored, R refused (records i, j), F line faults (records k)

  --only LIST   only these records, numbered as the summary numbers them (2,4 or
                10-20,31; a list the summary printed can be given back as it is)
  --trace FILE  also write what went over the line, frame by frame
  --json        the trace as JSON lines
  --charset NAME  the character set of vCard text that declares none (e.g. gbk, as
                Outlook and older phones write it); UTF-8 when not given
  --dll         send with the real imex.dll under Wine instead (one PORT, no --only):
                32-bit where this machine runs 32-bit programs, else 64-bit
                (IMEX_WINE_ARCH=win32 or win64 chooses); installs Wine and the
                cross-compilers on first use
  --no-build    use the tools as they are built (no setup, no build)
  --help        this text

Exit status (of the first port, in the order given, that did not store every
record): 0 every record stored; 2 FILE cannot be read (or the record file
cannot be opened); 3 FILE is refused (not a valid record file, or vCards that
give no record file); 7 no device answered on PORT; 8 the device refused
records; 9 records failed on the line (none refused); 10 PORT cannot be used
(missing, no serial line, no permission, held by another program, or lost);
101 bad usage; 125 the tools (or Wine) could not be prepared; 130 interrupted.'

EXIT_CANNOT_READ=2
EXIT_REFUSED_FILE=3
EXIT_NO_DEVICE=7
EXIT_PORT=10
EXIT_USAGE=101
EXIT_PREPARE=125
EXIT_INTERRUPTED=130

say() { printf 'send: %s\n' "$*"; }
usage_error() { say "$*" >&2; echo "(scripts/send.sh --help shows the usage)" >&2; exit $EXIT_USAGE; }

trace=""
json=""
only=""
dll=""
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
        --only)
            [ $# -ge 2 ] && [ -n "$2" ] || usage_error "--only needs a list of record numbers"
            only=$2; shift 2 ;;
        --charset)
            [ $# -ge 2 ] && [ -n "$2" ] || usage_error "--charset needs the name of a character set"
            charset=(--charset "$2"); shift 2 ;;
        --dll) dll=1; shift ;;
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
if [ -n "$dll" ]; then
    [[ "$port" != *,* ]] || usage_error "--dll takes one PORT, not $port"
    [ -z "$only" ] || usage_error "--dll sends the whole file: --only goes without --dll"
fi

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

# The native tools' build: its own, without tests, so that sending needs
# neither GoogleTest nor Wine. IMEX_NATIVE_BUILD names another (the tests
# use the native build they belong to).
source "$(dirname "$0")/common.sh"
if [ -z "$native_named" ]; then imex_native_tools "$IMEX_REPO/build/tools"; fi
native_build=$IMEX_NATIVE_BUILD

cd "$IMEX_REPO" || exit $EXIT_PREPARE
repo=$IMEX_REPO
# IMEX_SEND_WORK (a full path) names another folder for the book and the
# logs; the tests give each run its own.
work="${IMEX_SEND_WORK:-$repo/build/send}"
mkdir -p "$work" || exit $EXIT_PREPARE

if [ -n "$dll" ]; then
    imex_choose_windows_build 2>/dev/null || usage_error "IMEX_WINE_ARCH must be win32 or win64, not $IMEX_WINE_ARCH"
    preset=$IMEX_WINDOWS_PRESET
    say "using the ${IMEX_WINDOWS_BITS}-bit imex.dll (build/$preset)"
fi

if [ -n "$build" ]; then
    prepare_log="$work/prepare.log"
    say "setting up and building (log: $prepare_log)"
    if [ -n "$dll" ]; then setup=(bash scripts/setup.sh); else setup=(bash scripts/setup.sh --native); fi
    if ! { "${setup[@]}" &&
           # A build named by IMEX_NATIVE_BUILD keeps its own settings.
           { [ -n "${IMEX_NATIVE_BUILD:-}" ] || cmake --preset tools; } &&
           cmake --build "$native_build" -j2 --target imexsend recfile recfile_reader ${dll:+pdatap} &&
           if [ -n "$dll" ]; then
               cmake --preset "$preset" && cmake --build --preset "$preset" -j2 --target imex imexhost
           fi
         } >"$prepare_log" 2>&1; then
        tail -n 20 "$prepare_log" >&2
        say "setting up or building failed; the whole log is $prepare_log" >&2
        exit $EXIT_PREPARE
    fi
fi
imexsend=$IMEX_IMEXSEND
recfile=$IMEX_RECFILE
pdatap=$IMEX_PDATAP
imexhost="$repo/build/${preset:-windows}/bin/imexhost.exe"
require() {
    local tool
    for tool in "$@"; do
        [ -e "$tool" ] || { say "no $tool: build it first (without --no-build)" >&2; exit $EXIT_PREPARE; }
    done
}
require "$imexsend"
if [ ${#vcards[@]} -gt 0 ]; then require "$recfile"; fi
if [ -n "$dll" ]; then
    # The port, before anything starts: a wrong name, a missing permission or
    # another program on the line would otherwise all end as "no device answered".
    if ! port_error=$("$imexsend" --check-port "$port" 2>&1); then
        say "${port_error#imexsend: }" >&2
        exit $EXIT_PORT
    fi
    require "$imexhost"
    if [ -n "$trace" ]; then require "$pdatap"; fi
fi

if [ ${#vcards[@]} -gt 0 ]; then
    record_file="$work/book.rec"
    say "building $record_file from ${vcards[*]}"
    if ! "$recfile" build --vcard --replace "${charset[@]}" "${vcards[@]}" "$record_file"; then
        say "the vCard file(s) give no record file (recfile's reason above)" >&2
        exit $EXIT_REFUSED_FILE
    fi
fi

if [ -z "$dll" ]; then
    send_args=()
    if [ -n "$only" ]; then send_args+=(--only "$only"); fi
    if [ -n "$trace" ]; then
        send_args+=(--trace "$trace" ${json:+--json})
        say "wire trace: $trace"
    fi
    say "sending $record_file to the device on $port"
    # The sender prints the outcomes and the summaries itself, and its exit
    # status is this script's.
    exec "$imexsend" "${send_args[@]}" -- "$port" "$record_file"
fi

port_real=$(realpath "$port")

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
trap 'exit $EXIT_INTERRUPTED' INT TERM

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
    "$EXIT_NO_DEVICE") summary="no record sent: no device answered on $port (is it on, connected and waiting for a connection?)" ;;
    "$EXIT_PORT") summary="no record sent: $port cannot be opened through Wine (${summary#*(}" ;;
esac
if [ -z "$summary" ]; then
    summary="imexhost ended with status $status without a summary (its output: $host_log)"
fi
echo "$summary"
exit "$status"
