#!/usr/bin/env bash
# The release ZIP's check under Wine, as a host developer runs it on Windows:
#   check_from_zip.sh CPACK BUILD_DIR WORKDIR FAULTY_DLL
# packs and unpacks the ZIP in WORKDIR, joins COM1 and COM2 by a
# pseudo-terminal pair (nullmodem.py), runs tools/imexcheck.exe (every scenario must pass
# with the ZIP's own imex.dll), then runs it with --dll FAULTY_DLL, which
# takes a stale reply for the next record's (it must fail and name a
# scenario). COM1 and COM2's links are put back as they were.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../wine/wineenv.sh"
[ $# -eq 4 ] || { echo "usage: check_from_zip.sh CPACK BUILD_DIR WORKDIR FAULTY_DLL" >&2; exit 2; }
cpack=$1 build=$2 work=$3 faulty=$4
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
winerun="$repo/tests/wine/winerun.sh"

rm -rf "$work" && mkdir -p "$work"
"$cpack" --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; exit 1; }
zip=$(ls "$work"/imex-*.zip)
unzip -q "$zip" -d "$work/unpacked"
check=$(ls "$work"/unpacked/*/tools/imexcheck.exe)
for program in imexhost.exe pdasim.exe; do
    [ -f "$(dirname "$check")/$program" ] || { echo "FAIL: the ZIP has no tools/$program" >&2; exit 1; }
done

# The ports' links as they were: only a link to a pseudo-terminal is ours to
# move aside, and it comes back afterwards.
mkdir -p "$IMEX_WINE_PORTS"
declare -A saved=()
for port in COM1 COM2; do
    link="$IMEX_WINE_PORTS/$port"
    if [ -L "$link" ]; then
        target=$(readlink "$link")
        case "$target" in /dev/pts/*) saved[$port]=$target ;; *) echo "$link points at $target: left alone" >&2; exit 125 ;; esac
    elif [ -e "$link" ]; then
        echo "$link is not a link: left alone" >&2; exit 125
    fi
done
pair_pid=""
restore() {
    if [ -n "$pair_pid" ]; then kill "$pair_pid" 2>/dev/null || true; wait "$pair_pid" 2>/dev/null || true; fi
    for port in "${!saved[@]}"; do ln -sfn "${saved[$port]}" "$IMEX_WINE_PORTS/$port"; done
}
trap restore EXIT
trap 'exit 130' INT TERM
rm -f "$IMEX_WINE_PORTS/COM1" "$IMEX_WINE_PORTS/COM2"
# Not tests/send/ptypair.py: its relay blocks on a side nobody reads (the
# DLL's probe to a port without a device) and then carries nothing either way.
setsid python3 "$(dirname "${BASH_SOURCE[0]}")/nullmodem.py" "$IMEX_WINE_PORTS/COM1" "$IMEX_WINE_PORTS/COM2" \
    >"$work/pair.out" 2>&1 &
pair_pid=$!
for _ in $(seq 1 100); do grep -q '^nullmodem: ready' "$work/pair.out" 2>/dev/null && break; sleep 0.05; done
grep -q '^nullmodem: ready' "$work/pair.out" || { echo "the pseudo-terminal pair did not get ready" >&2; exit 125; }

run_check() {  # NAME [ARGS...]: the output in $work/NAME.txt, the status in $status
    local name=$1; shift
    set +e
    "$winerun" "$check" --report "Z:$work/$name-report.txt" "$@" >"$work/$name.raw" 2>"$work/$name.err"
    status=$?
    set -e
    # Windows ends its lines with CR LF, on standard output and in the report alike.
    tr -d '\r' <"$work/$name.raw" >"$work/$name.txt"
    [ -f "$work/$name-report.txt" ] && tr -d '\r' <"$work/$name-report.txt" >"$work/$name-report.lf"
    echo "--- imexcheck $* (status $status)"; cat "$work/$name.txt"
}

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

run_check good
scenarios=$(grep -cE '^(ok|FAIL) ' "$work/good.txt" || true)
[ "$status" -eq 0 ] || fail "the check ended with $status for the ZIP's own imex.dll"
[ "$scenarios" -ge 9 ] || fail "the check ran $scenarios scenarios, expected at least 9"
grep -qx "$scenarios/$scenarios scenarios passed" "$work/good.txt" || fail "no \"$scenarios/$scenarios scenarios passed\" line"
grep -q '^dll: .*version [0-9]' "$work/good.txt" || fail "no DLL version line"
cmp -s "$work/good.txt" "$work/good-report.lf" || fail "the --report file differs from what was printed"

cp "$faulty" "$work/stale-replies.dll"
# The scenarios that need no 20 s time-out are enough to show the fault.
run_check faulty --dll "Z:$work/stale-replies.dll" --scenario every_record_stored \
    --scenario device_answers_twice --scenario device_sends_an_extra_reply
[ "$status" -eq 1 ] || fail "the check ended with $status for the DLL that takes stale replies, expected 1"
grep -qE '^FAIL device_answers_twice: the DLL reported ' "$work/faulty.txt" ||
    fail "device_answers_twice did not fail on what the DLL reported, for the DLL that takes stale replies"
grep -qx 'ok every_record_stored' "$work/faulty.txt" || fail "the faulty DLL's plain transfer failed as well"
grep -qx '1/3 scenarios passed' "$work/faulty.txt" || fail "no \"1/3 scenarios passed\" line for the faulty DLL"

[ "$failures" -eq 0 ] && echo "check from the release ZIP: as expected" || exit 1
