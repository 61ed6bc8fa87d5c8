# Sourced by the Wine scripts: the environment of the project's private
# Wine prefixes. Every wine, wineserver and reg call must see the same
# variables, or Wine silently creates and uses ~/.wine instead.
#
# IMEX_WINE_ARCH picks the prefix: win32 (the 32-bit product, Wine's i386
# loader) or win64 (the 64-bit build, Wine's 64-bit loader called directly,
# so nothing of i386 runs). Default: win32 where this machine runs 32-bit
# programs and wine32 is installed, else win64.
imex_repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
: "${IMEX_WINE_DIR:=$imex_repo/build/wine}"
export IMEX_WINE_DIR

WINE_LIB_DIR=/usr/lib/wine
imex_runs_i386() {
    [ -x "$WINE_LIB_DIR/wine" ] && bash "$imex_repo/scripts/runs-i386.sh" 2>/dev/null
}
if [ -z "${IMEX_WINE_ARCH:-}" ]; then
    if imex_runs_i386; then IMEX_WINE_ARCH=win32; else IMEX_WINE_ARCH=win64; fi
fi
case "$IMEX_WINE_ARCH" in
    win32) IMEX_WINE_LOADER="$WINE_LIB_DIR/wine" ;;
    # Debian's `wine` wrapper prefers the i386 loader wherever wine32 is
    # installed; the 64-bit one is called by its own path.
    win64) IMEX_WINE_LOADER="$WINE_LIB_DIR/wine64" ;;
    *) printf 'winerun: IMEX_WINE_ARCH must be win32 or win64, not %s\n' "$IMEX_WINE_ARCH" >&2; exit 125 ;;
esac
export IMEX_WINE_ARCH
export WINEARCH="$IMEX_WINE_ARCH"
export WINELOADER="$IMEX_WINE_LOADER"
# The native server serves both kinds of prefix.
if [ -x "$WINE_LIB_DIR/wineserver64" ]; then
    export WINESERVER="$WINE_LIB_DIR/wineserver64"
else
    export WINESERVER="$WINE_LIB_DIR/wineserver32"
fi
export WINEPREFIX="$IMEX_WINE_DIR/$IMEX_WINE_ARCH/prefix"
IMEX_WINE_TEMPLATE="$IMEX_WINE_DIR/$IMEX_WINE_ARCH/template"
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko install prompts: nothing here needs them.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
# A zh_CN locale gives Wine the ANSI code page 936. It is generated into the
# build tree, so it works on machines where zh_CN was never generated.
# Only Wine's processes get it (bash itself would warn before it exists).
IMEX_WINE_LOCALE=(env LOCPATH="$IMEX_WINE_DIR/locale" LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8)
wine_env() { "${IMEX_WINE_LOCALE[@]}" "$@"; }
# Runs a Windows program (or a builtin such as wineboot) in the prefix.
wine_run() { wine_env "$IMEX_WINE_LOADER" "$@"; }
wine_server() { "$WINESERVER" "$@"; }
: "${IMEX_PDASIM:=$imex_repo/build/native/tools/pdasim/pdasim}"
export IMEX_PDASIM
# One set of port links serves both prefixes (their tests never run at once).
IMEX_WINE_PORTS="$IMEX_WINE_DIR/ports"

imex_log() { printf 'winerun: %s\n' "$*" >&2; }

# PIDs of this prefix's processes whose command line matches the pattern;
# other prefixes' (another checkout, the other architecture) do not count.
own_wine_pids() {
    local pid
    for pid in $(pgrep -f "$1" 2>/dev/null); do
        if tr '\0' '\n' 2>/dev/null < "/proc/$pid/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX"; then
            echo "$pid"
        fi
    done
}
