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
# The prefix is 32-bit, uses code page 936, renders Chinese texts with
# WenQuanYi and shows dialogs without the 2 s delay of a missing window
# manager. COM1..COM9 are mapped once, in the registry, to the symlinks
# $IMEX_WINE_DIR/ports/COMn; --port points such a link at a device path
# (a pseudo-terminal, usually pdasim's). Without $DISPLAY an Xvfb is started
# for the program and stopped again afterwards. Exit code: the program's.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wineenv.sh"

PORT_COUNT=9
started_xvfb=""

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
TEMPLATE_VERSION=3
# Creating a prefix is slow (minutes where Wine runs under emulation), so the
# finished template is also kept machine-wide, keyed by Wine's version.
: "${IMEX_WINE_CACHE=/var/cache/imex-wine}"

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

# Wine updates a prefix (minutes under emulation) at every session start
# once wine.inf is newer than the prefix, so its time is part of the key.
template_key() {
    printf '%s inf=%s ports=%s v%s\n' "$(wine --version 2>/dev/null)" \
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
    imex_log "creating the template prefix in $IMEX_WINE_TEMPLATE (once; minutes under emulation)"
    local reg="$IMEX_WINE_DIR/imex-prefix.reg"
    write_registry "$reg"
    WINEPREFIX="$IMEX_WINE_TEMPLATE" wine_env wineboot -i >"$IMEX_WINE_DIR/wineboot.log" 2>&1 || true
    WINEPREFIX="$IMEX_WINE_TEMPLATE" wine_env wine regedit /S "$reg" >>"$IMEX_WINE_DIR/wineboot.log" 2>&1 || true
    WINEPREFIX="$IMEX_WINE_TEMPLATE" wineserver -w || true
    if ! grep -q "$PORTS_PLACEHOLDER/COM1" "$IMEX_WINE_TEMPLATE/system.reg" 2>/dev/null; then
        imex_log "creating the prefix failed; see $IMEX_WINE_DIR/wineboot.log"
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
    rm -rf "$WINEPREFIX"
    cp -a "$IMEX_WINE_TEMPLATE" "$WINEPREFIX"
    sed -i "s|$PORTS_PLACEHOLDER/|$IMEX_WINE_PORTS/|g" "$WINEPREFIX/system.reg"
}

stop_wine() {
    if [ -d "$WINEPREFIX" ]; then
        wineserver -k >/dev/null 2>&1 || true
        wineserver -w >/dev/null 2>&1 || true
    fi
}

init() {
    mkdir -p "$IMEX_WINE_DIR" "$IMEX_WINE_PORTS"
    make_locale
    # Wine's server outlives the commands that start it: it must not inherit
    # the lock's descriptor, or the lock would be held until it exits.
    exec 9>"$IMEX_WINE_DIR/.lock"
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

cleanup() {
    if [ -n "$started_xvfb" ]; then
        stop_wine
        kill "$started_xvfb" 2>/dev/null || true
        wait "$started_xvfb" 2>/dev/null || true
    fi
}

# Starts the Wine server for good and lets Wine's session start-up (wineboot
# and the services it starts, each a minute of CPU under emulation) finish,
# so that the tests after it pay only for their own program.
warm() {
    init
    wineserver -p >/dev/null 2>&1 || true
    # One Wine program stays for the whole run (a cmd waiting on input that
    # never comes): while it lives, the session and its services stay up.
    if [ ! -f "$IMEX_WINE_DIR/keeper.pid" ] || ! kill -0 "$(cat "$IMEX_WINE_DIR/keeper.pid")" 2>/dev/null; then
        sleep infinity | setsid "${IMEX_WINE_LOCALE[@]}" wine cmd >/dev/null 2>&1 &
        pgrep -n -x sleep > "$IMEX_WINE_DIR/keeper.pid" || true
    fi
    for _ in $(seq 1 900); do
        if pgrep -f 'cmd.exe|wine cmd' >/dev/null 2>&1 && ! pgrep -f 'wineboot.exe' >/dev/null 2>&1 \
            && pgrep -f 'services.exe' >/dev/null 2>&1; then
            return 0
        fi
        sleep 1
    done
    imex_log "Wine's session start-up did not finish within 15 minutes"
    return 1
}

stop_all() {
    stop_wine
    if [ -f "$IMEX_WINE_DIR/keeper.pid" ]; then
        kill "$(cat "$IMEX_WINE_DIR/keeper.pid")" 2>/dev/null || true
        rm -f "$IMEX_WINE_DIR/keeper.pid"
    fi
}

case "${1:-}" in
    --init) init fresh; exit 0 ;;
    --warm) warm; exit 0 ;;
    --stop) stop_all; exit 0 ;;
esac

while [ $# -gt 0 ]; do
    case "$1" in
        --port)
            spec="$2"; shift 2
            name="${spec%%=*}"; target="${spec#*=}"
            mkdir -p "$IMEX_WINE_PORTS"
            ln -sfn "$target" "$IMEX_WINE_PORTS/$name"
            ;;
        --) shift; break ;;
        *) break ;;
    esac
done
[ $# -ge 1 ] || { echo "usage: winerun.sh [--init] [--port COMn=PATH]... [--] PROGRAM.exe [ARGS...]" >&2; exit 125; }

if i386_emulated; then
    if [ "${IMEX_NEEDS_SERIAL_IO:-}" = 1 ]; then
        echo "SKIPPED: $IMEX_SKIP_REASON" >&2
        exit "$IMEX_SKIP_CODE"
    fi
    # Test programs name the cases that need the port; GoogleTest reads this.
    if [ -n "${IMEX_EMULATED_GTEST_FILTER:-}" ]; then
        export GTEST_FILTER="$IMEX_EMULATED_GTEST_FILTER"
        echo "winerun: under emulation only $GTEST_FILTER ($IMEX_SKIP_REASON)" >&2
    fi
fi

init
trap cleanup EXIT
if [ -z "${DISPLAY:-}" ]; then start_xvfb; fi
set +e
wine_env wine "$@"
rc=$?
set -e
exit $rc
