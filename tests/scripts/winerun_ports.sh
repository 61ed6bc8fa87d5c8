#!/usr/bin/env bash
# tests/wine/winerun.sh --port maps a port for its run only: after a program
# that fails and after a run that is interrupted, each link is what it was
# before (an earlier link, or none); then the demo's transfer (imexhost.exe
# sending the sample to pdasim on COM1) works as on a fresh prefix.
#
#   winerun_ports.sh REPO IMEXHOST.exe
# Needs the native pdasim (IMEX_PDASIM) and the prefix that --init made.
set -euo pipefail
repo=$(cd "$1" && pwd)
imexhost=$2
winerun=$repo/tests/wine/winerun.sh
source "$repo/tests/wine/wineenv.sh"

state() {
    local link="$IMEX_WINE_PORTS/$1"
    if [ -L "$link" ]; then echo "a link to $(readlink "$link")"; elif [ -e "$link" ]; then echo "a file"; else echo "absent"; fi
}
failed=0
fail() { echo "winerun_ports: FAILED: $*"; failed=1; }
expect_state() { [ "$(state "$1")" = "$2" ] || fail "$3: $1 is $(state "$1"), was $2"; }

# An earlier link of the test's own on COM3, put back as found at the end.
com3_link=$IMEX_WINE_PORTS/COM3
com3_before=$(readlink "$com3_link" 2>/dev/null || true)
work=$(mktemp -d)
restore_com3() {
    if [ -n "$com3_before" ]; then ln -sfn "$com3_before" "$com3_link"; else rm -f "$com3_link"; fi
    rm -rf "$work"
}
trap restore_com3 EXIT
mkdir -p "$IMEX_WINE_PORTS"
ln -sfn /dev/zero "$com3_link"

# 1. The program fails: COM3's earlier link is back, COM1 as it was.
com1_before=$(state COM1)
rc=0
bash "$winerun" --port COM3=/dev/null --port COM1=/dev/null -- no-such-program.exe >"$work/failing.out" 2>&1 || rc=$?
[ $rc -ne 0 ] || fail "a program that does not exist ran with status 0"
expect_state COM3 "a link to /dev/zero" "after a failing program"
expect_state COM1 "$com1_before" "after a failing program"

# 2. The run is interrupted while its program runs (cmd waiting for input
# that never comes): the program ends with it, and COM1 is as it was.
mkfifo "$work/input"
bash "$winerun" --port COM1=/dev/null -- cmd <"$work/input" >"$work/interrupted.out" 2>&1 &
runner=$!
exec 7>"$work/input"
program=""
for _ in $(seq 1 300); do
    program=$(pgrep -P "$runner" || true)
    [ -n "$program" ] && break
    sleep 0.1
done
[ -n "$program" ] || fail "winerun.sh started no program within 30 s: $(cat "$work/interrupted.out")"
expect_state COM1 "a link to /dev/null" "while the program runs"
kill -TERM "$runner"
rc=0
wait "$runner" || rc=$?
[ $rc -eq 143 ] || fail "the interrupted run ended with status $rc, not 143"
expect_state COM1 "$com1_before" "after an interrupted run"
# Its input is still open: only the signal can have ended the program.
[ -z "$program" ] || ! kill -0 "$program" 2>/dev/null || fail "the program $program outlived the interrupted run"
exec 7>&-

# 3. The demo's transfer on COM1 after those runs.
log=$work/device.jsonl
rc=0
bash "$repo/tests/wine/with-devices.sh" --sim COM1 "--log $log" -- \
    bash "$winerun" "$imexhost" --answer-boxes "Z:${repo//\//\\}\\samples\\contacts.rec" >"$work/demo.out" 2>&1 || rc=$?
received=$(python3 "$repo/scripts/devicelog.py" --pdasim "$IMEX_PDASIM" "$log" 2>&1 | tail -n 1)
if [ $rc -ne 0 ] || [[ ! "$received" =~ ^[1-9][0-9]*\ record ]]; then
    fail "the demo's transfer after the --port runs: status $rc, \"$received\"; its output:"
    cat "$work/demo.out"
fi

[ $failed -eq 0 ] && echo "winerun_ports: ports put back after a failing and an interrupted run; the demo's transfer: $received"
exit $failed
