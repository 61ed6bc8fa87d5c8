# Sourced by the Wine scripts: the environment of the project's private
# 32-bit Wine prefix. Every wine, wineserver and reg call must see the same
# variables, or Wine silently creates and uses ~/.wine instead.
imex_repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
: "${IMEX_WINE_DIR:=$imex_repo/build/wine}"
export IMEX_WINE_DIR
export WINEPREFIX="$IMEX_WINE_DIR/prefix"
export WINEARCH=win32
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko install prompts: nothing here needs them.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
# A zh_CN locale gives Wine the ANSI code page 936. It is generated into the
# build tree, so it works on machines where zh_CN was never generated.
# Only Wine's processes get it (bash itself would warn before it exists).
IMEX_WINE_LOCALE=(env LOCPATH="$IMEX_WINE_DIR/locale" LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8)
wine_env() { "${IMEX_WINE_LOCALE[@]}" "$@"; }
: "${IMEX_PDASIM:=$imex_repo/build/native/tools/pdasim/pdasim}"
export IMEX_PDASIM
IMEX_WINE_PORTS="$IMEX_WINE_DIR/ports"
IMEX_WINE_TEMPLATE="$IMEX_WINE_DIR/template"

imex_log() { printf 'winerun: %s\n' "$*" >&2; }

# True where i386 code runs only under qemu's user-mode emulation. Wine
# starts and shows dialogs there, but crashes as soon as a program does
# overlapped I/O on a serial port, so tests that need the port skip there.
i386_emulated() {
    [ -r /proc/sys/fs/binfmt_misc/qemu-i386 ] && grep -qx enabled /proc/sys/fs/binfmt_misc/qemu-i386
}
IMEX_SKIP_CODE=77
IMEX_SKIP_REASON="i386 code runs here only under qemu-user emulation, where Wine crashes on serial-port I/O; run this test on a machine that executes i386 code natively"
