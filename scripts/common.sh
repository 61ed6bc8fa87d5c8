# Sourced by the scripts for what they all need to know. Sets IMEX_REPO to
# the checkout's root.
IMEX_REPO="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# Fails (status 1), naming the cause on standard error, unless git can
# answer for this tree: git installed and the tree a git checkout. `who`
# prefixes the message.
imex_need_git() {
    local who="$1"
    if ! command -v git >/dev/null 2>&1; then
        echo "$who: git is not installed, and the tracked files and the commit come from it (scripts/setup.sh installs it)" >&2
        return 1
    fi
    if ! git -C "$IMEX_REPO" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
        echo "$who: $IMEX_REPO is no git checkout, so its tracked files and commit are unknown (work in a clone)" >&2
        return 1
    fi
}

# Prints the tracked files matching the git pathspecs given, one per line.
# Fails, naming the cause, when git cannot answer or nothing matches: a
# check over no files would pass over nothing.
imex_tracked_files() {
    local who="$1"; shift
    local list
    imex_need_git "$who" || return 1
    list=$(git -C "$IMEX_REPO" ls-files -- "$@") || { echo "$who: git ls-files failed" >&2; return 1; }
    if [ -z "$list" ]; then
        echo "$who: no tracked file matches $*" >&2
        return 1
    fi
    printf '%s\n' "$list"
}

# Prints the time of the checked-out commit (seconds since 1970), the time
# every release ZIP entry gets.
imex_commit_time() {
    local who="$1" time
    imex_need_git "$who" || return 1
    time=$(git -C "$IMEX_REPO" log -1 --format=%ct) && [[ "$time" =~ ^[0-9]+$ ]] ||
        { echo "$who: git cannot tell the time of the checked-out commit" >&2; return 1; }
    printf '%s\n' "$time"
}

# Where each built tool is, in the native build folder IMEX_NATIVE_BUILD:
# build/native unless the caller names another, or the one given (send.sh
# uses build/tools, a build without tests). IMEX_PDASIM, where the caller
# set it, points the simulator elsewhere (a test's own build).
imex_native_tools() {
    IMEX_NATIVE_BUILD=$(realpath -m "${1:-${IMEX_NATIVE_BUILD:-$IMEX_REPO/build/native}}")
    IMEX_IMEXSEND="$IMEX_NATIVE_BUILD/tools/imexsend/imexsend"
    IMEX_PDATAP="$IMEX_NATIVE_BUILD/tools/pdatap/pdatap"
    IMEX_COMPAREBOOKS="$IMEX_NATIVE_BUILD/tools/recfile/comparebooks.py"
    : "${IMEX_PDASIM:=$IMEX_NATIVE_BUILD/tools/pdasim/pdasim}"
    IMEX_RECFILE="$IMEX_NATIVE_BUILD/tools/recfile/recfile"
    export IMEX_PDASIM IMEX_RECFILE
}
imex_native_tools

# Which Windows build runs the DLL here: the 32-bit product where this
# machine runs 32-bit x86 programs, else the 64-bit build of the same
# sources under wine64; IMEX_WINE_ARCH (win32 or win64) chooses instead.
# Sets and exports IMEX_WINE_ARCH, and sets IMEX_WINDOWS_PRESET and
# IMEX_WINDOWS_BITS; fails, saying why, for another IMEX_WINE_ARCH.
imex_choose_windows_build() {
    if [ -z "${IMEX_WINE_ARCH:-}" ]; then
        # (The probe dies on a machine without 32-bit support; that is the answer, not news.)
        if bash "$IMEX_REPO/scripts/runs-i386.sh" 2>/dev/null; then IMEX_WINE_ARCH=win32; else IMEX_WINE_ARCH=win64; fi
    fi
    case "$IMEX_WINE_ARCH" in
        win32) IMEX_WINDOWS_PRESET=windows; IMEX_WINDOWS_BITS=32 ;;
        win64) IMEX_WINDOWS_PRESET=windows64; IMEX_WINDOWS_BITS=64 ;;
        *) echo "IMEX_WINE_ARCH must be win32 or win64, not $IMEX_WINE_ARCH" >&2; return 1 ;;
    esac
    export IMEX_WINE_ARCH
}

# The Windows builds whose programs run here (the tests run each): both
# where this machine runs 32-bit programs, else the 64-bit one.
imex_runnable_windows_presets() {
    if bash "$IMEX_REPO/scripts/runs-i386.sh" 2>/dev/null; then echo "windows windows64"; else echo "windows64"; fi
}
