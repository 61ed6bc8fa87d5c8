# Sourced by the tests that stand an empty tmpfs in for a system folder:
# runs the sourcing script again in a user and mount namespace of its own
# (so nothing of the machine is touched) and mounts the tmpfs there, or
# skips the test (status 77) where the machine gives no such namespace or
# lacks the folder.
#
#   source own-namespace.sh TEST-NAME FOLDER "$@"
if [ -z "${IMEX_IN_NAMESPACE:-}" ]; then
    if ! unshare -rm true 2>/dev/null; then
        echo "$1: skipped: this machine gives no user and mount namespace (unshare -rm)"
        exit 77
    fi
    [ -d "$2" ] || { echo "$1: skipped: the machine has no $2 to stand in for"; exit 77; }
    exec env IMEX_IN_NAMESPACE=1 unshare -rm bash "$0" "${@:3}"
fi
mount -t tmpfs "imex-$1" "$2"
