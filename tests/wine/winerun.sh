#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's private prefix.
#
#   winerun.sh --init                  create the template prefix if needed and
#                                      copy it to a fresh working prefix
#   winerun.sh --warm                  start the Wine server for good and wait
#                                      for Wine's session start-up to finish
#   winerun.sh --stop                  stop the Wine server and its programs
#   winerun.sh [--port COMn=PATH]... [--] PROGRAM.exe [ARGS...]
#
# IMEX_WINE_ARCH (win32 or win64, see wineenv.sh) picks the prefix and
# Wine's loader; each architecture has its own prefix and template. The
# prefix uses code page 936, renders Chinese texts with
# WenQuanYi and shows dialogs without the 2 s delay of a missing window
# manager. COM1..COM9 are mapped once, in the registry, to the symlinks
# $IMEX_WINE_DIR/ports/COMn; --port points such a link at a device path
# (a pseudo-terminal, usually pdasim's, or a real serial line) for this run
# only: afterwards the link is what it was before, or absent as before, also
# when the program fails or the run is interrupted. A Wine that cannot be
# started is reported as such, and no prefix is touched. Without $DISPLAY the program uses
# the Xvfb that --warm started for the session, or else an Xvfb is started
# for the program and stopped again afterwards; either way nobody sees it, so
# the program gets IMEX_DISPLAY_HIDDEN=1 (unless the caller set it). Exit
# code: the program's.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wineenv.sh"

PORT_COUNT=9
started_xvfb=""
# Ports this run points elsewhere: "NAME<TAB>PATH<TAB>earlier target or empty".
mapped_ports=()
program_pid=""

# Wine's loader answers --version when it can be started at all. Checked
# before anything of a prefix or its template is decided, so a Wine that
# is missing or broken leaves them as they are.
check_wine() {
    local said="" why=""
    if [ ! -x "$IMEX_WINE_LOADER" ]; then
        why="its loader $IMEX_WINE_LOADER is missing"
    elif ! said=$("$IMEX_WINE_LOADER" --version 2>&1) || [ -z "$said" ]; then
        why="\"$IMEX_WINE_LOADER --version\" failed${said:+: ${said%%$'\n'*}}"
    fi
    if [ -n "$why" ]; then
        imex_log "Wine ($IMEX_WINE_ARCH) cannot be started: $why; install Wine (scripts/setup.sh); the prefixes in $IMEX_WINE_DIR are left as they are"
        exit 125
    fi
    IMEX_WINE_VERSION=$said
}

make_locale() {
    local dir="$IMEX_WINE_DIR/locale"
    [ -f "$dir/zh_CN.UTF-8/LC_CTYPE" ] && return 0
    mkdir -p "$dir"
    # localedef warns about harmless locale details and exits 1 for them.
    localedef -i zh_CN -f UTF-8 "$dir/zh_CN.UTF-8" >/dev/null 2>&1 || true
    [ -f "$dir/zh_CN.UTF-8/LC_CTYPE" ] || { imex_log "cannot build the zh_CN.UTF-8 locale"; exit 125; }
}

# Inside the template the ports stand at a placeholder path, so one
# template serves every checkout; each working prefix gets its own.
PORTS_PLACEHOLDER=/imex-wine-ports
TEMPLATE_VERSION=4
# The template lives under the build tree. Set IMEX_WINE_CACHE to a folder
# to keep finished templates there too, keyed by Wine's version and the
# architecture, for other checkouts of this machine.
: "${IMEX_WINE_CACHE:=}"

write_registry() {
    local reg="$1"
    {
        printf 'REGEDIT4\n\n'
        printf '[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\n'
        for n in $(seq 1 $PORT_COUNT); do
            printf '"COM%d"="%s"\n' "$n" "$PORTS_PLACEHOLDER/COM$n"
        done
        printf '\n[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\n'
        printf '"SimSun"="WenQuanYi Micro Hei"\n'
        printf '"NSimSun"="WenQuanYi Micro Hei"\n'
        printf '"System"="WenQuanYi Micro Hei"\n'
        printf '\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\n'
        printf '"Managed"="N"\n'
        printf '"Decorated"="N"\n\n'
    } > "$reg"
}

# Wine updates a prefix at every session start
# once wine.inf is newer than the prefix, so its time is part of the key.
template_key() {
    printf '%s %s inf=%s ports=%s v%s\n' "$IMEX_WINE_VERSION" "$IMEX_WINE_ARCH" \
        "$(stat -c %Y /usr/share/wine/wine.inf 2>/dev/null)" "$PORT_COUNT" "$TEMPLATE_VERSION"
}

cached_template() {
    [ -n "$IMEX_WINE_CACHE" ] || return 1
    printf '%s/template-%s' "$IMEX_WINE_CACHE" "$(template_key | sha1sum | cut -c1-16)"
}

make_template() {
    local stamp="$IMEX_WINE_TEMPLATE/.imex-template"
    local want cache
    want=$(template_key)
    if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$want" ]; then return 0; fi
    rm -rf "$IMEX_WINE_TEMPLATE"
    cache=$(cached_template || true)
    if [ -n "$cache" ] && [ -f "$cache/.imex-template" ] && [ "$(cat "$cache/.imex-template")" = "$want" ]; then
        imex_log "copying the template prefix from $cache"
        cp -a "$cache" "$IMEX_WINE_TEMPLATE"
        return 0
    fi
    imex_log "creating the $IMEX_WINE_ARCH template prefix in $IMEX_WINE_TEMPLATE (once)"
    mkdir -p "$(dirname "$IMEX_WINE_TEMPLATE")"
    local reg="$IMEX_WINE_DIR/imex-prefix.reg"
    write_registry "$reg"
    local bootlog="$IMEX_WINE_DIR/wineboot-$IMEX_WINE_ARCH.log"
    WINEPREFIX="$IMEX_WINE_TEMPLATE" wine_run wineboot -i >"$bootlog" 2>&1 || true
    WINEPREFIX="$IMEX_WINE_TEMPLATE" wine_run regedit /S "$reg" >>"$bootlog" 2>&1 || true
    WINEPREFIX="$IMEX_WINE_TEMPLATE" wine_server -w || true
    if ! grep -q "$PORTS_PLACEHOLDER/COM1" "$IMEX_WINE_TEMPLATE/system.reg" 2>/dev/null; then
        imex_log "creating the prefix failed; see $bootlog"
        exit 125
    fi
    printf '%s\n' "$want" > "$stamp"
    if [ -n "$cache" ] && mkdir -p "$IMEX_WINE_CACHE" 2>/dev/null; then
        local partial="$cache.partial.$$"
        if cp -a "$IMEX_WINE_TEMPLATE" "$partial" 2>/dev/null && mv -T "$partial" "$cache" 2>/dev/null; then
            imex_log "kept the template in $cache for later runs"
        fi
        rm -rf "$partial"
    fi
}

fresh_prefix() {
    stop_wine
    stop_keeper
    rm -rf "$WINEPREFIX"
    cp -a "$IMEX_WINE_TEMPLATE" "$WINEPREFIX"
    sed -i "s|$PORTS_PLACEHOLDER/|$IMEX_WINE_PORTS/|g" "$WINEPREFIX/system.reg"
}

stop_wine() {
    if [ -d "$WINEPREFIX" ]; then
        wine_server -k >/dev/null 2>&1 || true
        wine_server -w >/dev/null 2>&1 || true
    fi
}

init() {
    check_wine
    mkdir -p "$IMEX_WINE_DIR" "$IMEX_WINE_PORTS" "$(dirname "$WINEPREFIX")"
    make_locale
    # Wine's server outlives the commands that start it: it must not inherit
    # the lock's descriptor, or the lock would be held until it exits.
    exec 9>"$IMEX_WINE_DIR/.lock-$IMEX_WINE_ARCH"
    flock 9
    make_template 9>&-
    if [ "${1:-}" = fresh ] || [ ! -f "$WINEPREFIX/.imex-template" ]; then
        imex_log "copying a fresh working prefix to $WINEPREFIX"
        fresh_prefix 9>&-
    fi
    exec 9>&-
}

start_xvfb() {
    local fdfile
    fdfile=$(mktemp)
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fdfile" >/dev/null 2>&1 &
    started_xvfb=$!
    for _ in $(seq 1 100); do
        [ -s "$fdfile" ] && break
        sleep 0.05
    done
    local display
    display=$(tr -d '\n' < "$fdfile")
    rm -f "$fdfile"
    [ -n "$display" ] || { imex_log "Xvfb did not start"; exit 125; }
    export DISPLAY=":$display"
}

# Points port NAME at PATH for this run, after noting what the link was.
map_port() {
    local name="$1" target="$2" link="$IMEX_WINE_PORTS/$1" before=""
    case "$name" in
        COM[1-9]) ;;
        *) imex_log "--port $name=$target: the prefix has the ports COM1..COM$PORT_COUNT"; exit 125 ;;
    esac
    [ -n "$target" ] || { imex_log "--port $name=: give the device path after ="; exit 125; }
    if [ -L "$link" ]; then
        before=$(readlink "$link")
    elif [ -e "$link" ]; then
        imex_log "--port $name: $link is there and is no link; it is left alone"
        exit 125
    fi
    mkdir -p "$IMEX_WINE_PORTS"
    mapped_ports+=("$name"$'\t'"$target"$'\t'"$before")
    ln -sfn "$target" "$link"
}

# Puts each mapped port back as it was: the earlier link, or none. A link
# that points elsewhere than this run put it was changed by someone else
# meanwhile, and is left to them.
restore_ports() {
    local entry name target before link
    for entry in "${mapped_ports[@]}"; do
        IFS=$'\t' read -r name target before <<<"$entry"
        link="$IMEX_WINE_PORTS/$name"
        [ -L "$link" ] && [ "$(readlink "$link")" = "$target" ] || continue
        if [ -n "$before" ]; then ln -sfn "$before" "$link"; else rm -f "$link"; fi
    done
    mapped_ports=()
}

cleanup() {
    if [ -n "$started_xvfb" ]; then
        stop_wine
        kill "$started_xvfb" 2>/dev/null || true
        wait "$started_xvfb" 2>/dev/null || true
    fi
    restore_ports
}

# An interrupted run ends its program first, then the EXIT trap puts
# everything back.
interrupted() {
    local signal="$1" status="$2"
    trap - "$signal"
    if [ -n "$program_pid" ]; then
        kill "-$signal" "$program_pid" 2>/dev/null || true
        wait "$program_pid" 2>/dev/null || true
    fi
    exit "$status"
}

# Starts the Wine server for good and lets Wine's session start-up (wineboot
# and the services it starts) finish, so that the tests after it pay only
# for their own program.
KEEPER_PID="$(dirname "$WINEPREFIX")/keeper.pid"

keeper_alive() {
    local pid
    [ -f "$KEEPER_PID" ] || return 1
    pid=$(cat "$KEEPER_PID")
    [ -n "$pid" ] && [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = sleep ]
}

SESSION_XVFB_PID="$(dirname "$WINEPREFIX")/xvfb.pid"
SESSION_XVFB_DISPLAY="$(dirname "$WINEPREFIX")/xvfb.display"

session_xvfb_alive() {
    [ -f "$SESSION_XVFB_PID" ] && [ "$(cat "/proc/$(cat "$SESSION_XVFB_PID")/comm" 2>/dev/null)" = Xvfb ]
}

warm() {
    init
    # Wine's session start-up needs a display; without one it never ends.
    if [ -z "${DISPLAY:-}" ]; then
        if session_xvfb_alive; then
            export DISPLAY=":$(cat "$SESSION_XVFB_DISPLAY")"
        else
            start_xvfb
            printf '%s\n' "$started_xvfb" > "$SESSION_XVFB_PID"
            printf '%s\n' "${DISPLAY#:}" > "$SESSION_XVFB_DISPLAY"
            started_xvfb=""  # the session's now: --stop ends it
        fi
    fi
    wine_server -p >/dev/null 2>&1 || true
    # One Wine program stays for the whole run (a cmd waiting on input that
    # never comes): while it lives, the session and its services stay up.
    # The keeper is the sleep that holds cmd's input open; its own PID is
    # recorded, so --stop ends exactly it.
    if keeper_alive && [ -z "$(own_wine_pids 'cmd\.exe')" ]; then
        # Its cmd went with an earlier server: start both again.
        stop_keeper
    fi
    if ! keeper_alive; then
        { sleep infinity & echo $! > "$KEEPER_PID"; wait; } | setsid "${IMEX_WINE_LOCALE[@]}" "$IMEX_WINE_LOADER" cmd >/dev/null 2>&1 &
        for _ in $(seq 1 50); do [ -s "$KEEPER_PID" ] && break; sleep 0.02; done
    fi
    for _ in $(seq 1 300); do
        if [ -n "$(own_wine_pids 'cmd\.exe')" ] && [ -z "$(own_wine_pids 'wineboot\.exe')" ] \
            && [ -n "$(own_wine_pids 'services\.exe')" ]; then
            return 0
        fi
        sleep 0.2
    done
    imex_log "Wine's session start-up ($IMEX_WINE_ARCH) did not finish within 60 s"
    return 1
}

stop_keeper() {
    if keeper_alive; then kill "$(cat "$KEEPER_PID")" 2>/dev/null || true; fi
    rm -f "$KEEPER_PID"
}

stop_all() {
    stop_wine
    stop_keeper
    if session_xvfb_alive; then kill "$(cat "$SESSION_XVFB_PID")" 2>/dev/null || true; fi
    rm -f "$SESSION_XVFB_PID" "$SESSION_XVFB_DISPLAY"
}

# The program's own architecture must match the prefix's: a 64-bit program
# in a 32-bit prefix cannot start, and the reverse runs the wrong build.
check_program_arch() {
    local program="$1" kind
    [ -f "$program" ] || return 0
    kind=$(file -b "$program" 2>/dev/null)
    case "$kind" in
        PE32+*) [ "$IMEX_WINE_ARCH" = win64 ] && return 0 ;;
        PE32*) [ "$IMEX_WINE_ARCH" = win32 ] && return 0 ;;
        *) return 0 ;;
    esac
    imex_log "$program is $kind, but IMEX_WINE_ARCH is $IMEX_WINE_ARCH"
    exit 125
}

case "${1:-}" in
    --init) init fresh; exit 0 ;;
    --warm) warm; exit 0 ;;
    --stop) stop_all; exit 0 ;;
esac

trap cleanup EXIT
trap 'interrupted INT 130' INT
trap 'interrupted TERM 143' TERM
trap 'interrupted HUP 129' HUP
while [ $# -gt 0 ]; do
    case "$1" in
        --port)
            [ $# -ge 2 ] || { imex_log "--port needs COMn=PATH"; exit 125; }
            spec="$2"; shift 2
            [[ "$spec" == *=* ]] || { imex_log "--port $spec: give COMn=PATH"; exit 125; }
            map_port "${spec%%=*}" "${spec#*=}"
            ;;
        --) shift; break ;;
        *) break ;;
    esac
done
[ $# -ge 1 ] || { echo "usage: winerun.sh [--init] [--port COMn=PATH]... [--] PROGRAM.exe [ARGS...]" >&2; exit 125; }

check_program_arch "$1"

init
if [ -z "${DISPLAY:-}" ]; then
    if session_xvfb_alive; then export DISPLAY=":$(cat "$SESSION_XVFB_DISPLAY")"; else start_xvfb; fi
    # Nobody sees that screen: imexhost then refuses to leave a box to a person.
    export IMEX_DISPLAY_HIDDEN="${IMEX_DISPLAY_HIDDEN:-1}"
fi
set +e
# In the background, so that a signal reaches the traps at once; the
# program keeps this script's standard input.
# exec: the PID is the program's own, which a signal is passed on to.
(exec "${IMEX_WINE_LOCALE[@]}" "$IMEX_WINE_LOADER" "$@") <&0 &
program_pid=$!
wait "$program_pid"
rc=$?
program_pid=""
set -e
exit $rc
