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
