#!/usr/bin/env bash
# Runs a command with simulated devices on the prefix's serial ports.
#
#   with-devices.sh [--sim COMn "pdasim args"]... [--] COMMAND [ARGS...]
#
# Each --sim starts `pdasim --pty $IMEX_WINE_DIR/ports/COMn ARGS` (so Wine's
# COMn reaches it with nothing in between) and waits until it says it is
# ready. The simulators are stopped only after COMMAND has ended, when no
# Wine program holds their ports any more; the Wine server itself is left
# running for the next test (starting it is the slow part of every run).
# Exit code: COMMAND's.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wineenv.sh"

[ -x "$IMEX_PDASIM" ] || { echo "with-devices: no simulator at $IMEX_PDASIM (build the native preset first)" >&2; exit 125; }

workdir=$(mktemp -d)
pids=()

stop_all() {
    for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$workdir"
}
trap stop_all EXIT

mkdir -p "$IMEX_WINE_PORTS"
while [ $# -gt 0 ]; do
    case "$1" in
        --sim)
            port="$2"; args="$3"; shift 3
            link="$IMEX_WINE_PORTS/$port"
            out="$workdir/$port.out"
            # A session of its own: the pty must not become a controlling
            # terminal of anything here.
            # shellcheck disable=SC2086
            setsid "$IMEX_PDASIM" --pty "$link" $args >"$out" 2>"$workdir/$port.err" &
            pids+=($!)
            ready=""
            for _ in $(seq 1 200); do
                if grep -q '^pdasim: ready' "$out" 2>/dev/null; then ready=1; break; fi
                if ! kill -0 "${pids[-1]}" 2>/dev/null; then break; fi
                sleep 0.05
            done
            if [ -z "$ready" ]; then
                echo "with-devices: pdasim on $port did not get ready within 10 s; its stderr:" >&2
                cat "$workdir/$port.err" >&2
                exit 125
            fi
            ;;
        --) shift; break ;;
        *) break ;;
    esac
done
[ $# -ge 1 ] || { echo "usage: with-devices.sh [--sim COMn \"pdasim args\"]... [--] COMMAND [ARGS...]" >&2; exit 125; }

set +e
"$@"
rc=$?
set -e
exit $rc
