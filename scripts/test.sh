#!/usr/bin/env bash
# Runs every test: native unit tests, the same under ASan/UBSan, bounded
# fuzz runs, and the Windows tests of the real imex.dll under Wine (with
# the device simulator on pseudo-terminals), on the 32-bit build where the
# machine runs 32-bit programs and on the 64-bit build everywhere. Installs
# what is missing first.
# Ends with one line "N passed, M failed"; exits non-zero on any failure.
set -uo pipefail
source "$(dirname "$0")/common.sh"
cd "$IMEX_REPO"
repo=$IMEX_REPO

# Each heading says when it began (seconds since the start), so a run's log shows where the time goes.
say() { printf '\n=== [%4ds] %s\n' "$SECONDS" "$*"; }
total_passed=0
total_failed=0
total_skipped=0
failed_phases=()

# Adds the counts of a ctest JUnit report to the totals.
count_junit() {
    local phase="$1" junit="$2" counts passed failed skipped
    if ! counts=$(python3 -c '
import sys, xml.etree.ElementTree as ET
suite = ET.parse(sys.argv[1]).getroot()
tests, failures, skipped, disabled = (int(suite.get(k, 0)) for k in ("tests", "failures", "skipped", "disabled"))
print(tests - failures - skipped - disabled, failures, skipped + disabled)' "$junit" 2>/dev/null); then
        failed_phases+=("$phase (no test report)")
        total_failed=$((total_failed + 1))
    else
        read -r passed failed skipped <<<"$counts"
        # A phase that ran no test has checked nothing.
        if [ $((passed + failed)) -eq 0 ]; then
            failed_phases+=("$phase (no test ran)")
            total_failed=$((total_failed + 1))
        fi
        total_passed=$((total_passed + passed))
        total_skipped=$((total_skipped + skipped))
        total_failed=$((total_failed + failed))
        [ "$failed" -eq 0 ] || failed_phases+=("$phase")
    fi
    rm -f "$junit"
}

# Runs ctest with the given arguments and adds its counts to the totals.
run_ctest() {
    local phase="$1" junit
    shift
    junit=$(mktemp --suffix=.xml)
    ctest "$@" --output-junit "$junit"
    count_junit "$phase" "$junit"
}

build() {
    local preset="$1"
    say "configure and build: $preset"
    cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" -j2
}

# Builds that the foreground does not wait for run one after another in the
# background at the lowest priority, while the Wine suites in the foreground
# mostly wait on the line's time-outs; each phase that needs a build awaits
# it. Their output goes to build/test-logs/PRESET.log, shown when one fails.
logs="$repo/build/test-logs"
queue_pids=()
queue_builds() {
    mkdir -p "$logs"
    local job
    for job in "$@"; do rm -f "$logs/$job.status"; done
    (
        for job in "$@"; do
            if [ "$job" = reproducible ]; then
                nice -n 19 bash scripts/reproducible.sh >"$logs/$job.log" 2>&1
            else
                { cmake --preset "$job" && nice -n 19 cmake --build --preset "$job" -j2; } >"$logs/$job.log" 2>&1
            fi
            echo $? >"$logs/$job.status.new" && mv "$logs/$job.status.new" "$logs/$job.status"
        done
    ) &
    queue_pids+=($!)
    say "building in the background, at the lowest priority: $*"
}
queue_running() {
    local pid
    for pid in "${queue_pids[@]}"; do kill -0 "$pid" 2>/dev/null && return 0; done
    return 1
}
# Waits for a queued build; 0 when it succeeded, else its log's end is shown.
await_build() {
    local job="$1" status
    while [ ! -f "$logs/$job.status" ]; do
        # (A queue writes the status before it ends: read it once more.)
        if ! queue_running && [ ! -f "$logs/$job.status" ]; then
            echo "no background build made $job" >&2
            return 1
        fi
        sleep 1
    done
    status=$(cat "$logs/$job.status")
    [ "$status" -eq 0 ] && return 0
    tail -n 40 "$logs/$job.log"
    echo "($job failed; the whole log is $logs/$job.log)"
    return 1
}
# An interrupted run leaves no build or suite behind.
kill_tree() {
    local child
    for child in $(pgrep -P "$1"); do kill_tree "$child"; done
    kill "$1" 2>/dev/null
}
suite_pids=()
wine_presets=()
wine_pids=()
trap 'for pid in "${queue_pids[@]}" "${wine_pids[@]}" "${suite_pids[@]}"; do kill_tree "$pid"; done; stop_wine_sessions' EXIT
# Ctrl+C ends the run, not only the step it interrupts (ninja and ctest
# exit on it normally, and the script would go on).
trap 'exit 130' INT
trap 'exit 143' TERM

# Each build's Windows suite runs under Wine in a session and a Wine folder
# of its own (prefix, ports, X server; screenshots too), so that the two
# builds' suites, which mostly wait on the line's time-outs, can run at once.
wine_env() {
    local arch=win32
    [ "$1" = windows ] || arch=win64
    export IMEX_WINE_ARCH=$arch IMEX_WINE_DIR="$repo/build/wine-tests/$arch" IMEX_ARTIFACTS="$repo/build/artifacts/$arch"
}
# Makes a build's Wine session (prefix, Wine server, X server) in the
# background at the start: that is mostly waiting on Wine, and the suite
# then begins as soon as its build is made. The session's status and log
# go to build/test-logs/PRESET-wine.*.
start_wine_session() {
    local preset="$1"
    mkdir -p "$logs"
    rm -f "$logs/$preset-wine.status"
    (
        wine_env "$preset"
        { bash tests/wine/winerun.sh --init && bash tests/wine/winerun.sh --warm; } >"$logs/$preset-wine.log" 2>&1
        echo $? >"$logs/$preset-wine.status"
    ) &
    wine_presets+=("$preset")
    wine_pids+=($!)
}
stop_wine_sessions() {
    local preset pid
    for pid in "${wine_pids[@]}"; do wait "$pid" 2>/dev/null; done
    wine_pids=()
    for preset in "${wine_presets[@]}"; do
        (wine_env "$preset" && bash tests/wine/winerun.sh --stop >/dev/null 2>&1)
    done
    wine_presets=()
}
# Runs one build's Windows suite once its Wine session is up. The JUnit
# report goes to $2; a session that could not be made is a report of none.
windows_suite() {
    local preset="$1" junit="$2"
    wine_env "$preset"
    say "Windows tests under Wine: $preset ($IMEX_WINE_ARCH)"
    cat "$logs/$preset-wine.log"
    if [ "$(cat "$logs/$preset-wine.status" 2>/dev/null)" = 0 ]; then
        mkdir -p "$IMEX_ARTIFACTS"
        ctest --preset "$preset" --output-junit "$junit"
    else
        echo "the Wine prefix $IMEX_WINE_ARCH could not be made or started"
    fi
}

say "setup"
bash scripts/setup.sh || { echo "setup failed"; exit 1; }

say "house style of the C and C++ sources (.clang-format)"
if bash scripts/format.sh --check; then total_passed=$((total_passed + 1))
else failed_phases+=("house style: scripts/format.sh rewrites the files named above"); total_failed=$((total_failed + 1)); fi

# The Windows suites: the 32-bit product where this machine runs 32-bit
# programs, and the 64-bit build everywhere.
read -ra windows_presets <<<"$(imex_runnable_windows_presets)"
if [ "${windows_presets[*]}" = windows64 ]; then
    say "this machine does not run 32-bit x86 programs: the Windows tests run on the 64-bit build only"
    # The 32-bit DLL is the product: it is still built (export, stdcall
    # fix-up, i686 code), only its programs cannot run here.
    other_builds=(windows)
else
    other_builds=()
fi

for preset in "${windows_presets[@]}"; do start_wine_session "$preset"; done
say "Wine sessions begun in the background for: ${windows_presets[*]} (logs: $logs/PRESET-wine.log)"

# The native build first: the Windows suites run its pdasim. Then the
# Windows builds whose suites run here, at the lowest priority while the
# native tests run.
native_ok=""
if build native; then native_ok=1; else failed_phases+=("native build"); total_failed=$((total_failed + 1)); fi
queue_builds "${windows_presets[@]}"
if [ -n "$native_ok" ]; then
    say "native tests"
    run_ctest native --preset native -j2
fi

# Each Windows suite starts as soon as its build is made; meanwhile the
# other builds go on at the lowest priority (a build this machine cannot
# run the programs of, native-asan, fuzz, the reproducible copy).
suites=()
for i in "${!windows_presets[@]}"; do
    preset=${windows_presets[$i]}
    say "awaiting the build: $preset"
    if ! await_build "$preset"; then
        failed_phases+=("$preset build"); total_failed=$((total_failed + 1))
    elif [ -n "$native_ok" ]; then
        # (Its Wine session was begun at the start; mostly it is up by now.)
        wait "${wine_pids[$i]}"
        (windows_suite "$preset" "$logs/$preset.xml") >"$logs/$preset-suite.log" 2>&1 &
        suites+=("$preset")
        suite_pids+=($!)
        say "Windows tests under Wine: $preset, in the background (log: $logs/$preset-suite.log)"
    fi
done
queue_builds "${other_builds[@]}" native-asan fuzz reproducible
# The ASan tests start as soon as their build is made, beside the Wine
# suites: ending the run with them left one core idle while their longest
# test waits out a time-out.
say "native tests under AddressSanitizer and UBSan: in the background once built (log: $logs/native-asan-tests.log)"
(
    if await_build native-asan; then
        say "native-asan built: its tests begin"
        ctest --preset native-asan -j2 --output-junit "$logs/native-asan.xml"
        say "native-asan tests done"
    else
        echo "native-asan build failed"
    fi
) >"$logs/native-asan-tests.log" 2>&1 &
suite_pids+=($!)
for pid in "${suite_pids[@]}"; do wait "$pid"; done
suite_pids=()
stop_wine_sessions
for preset in "${suites[@]}"; do
    say "the Windows tests of $preset:"
    cat "$logs/$preset-suite.log"
    count_junit "$preset" "$logs/$preset.xml"
done
for preset in "${other_builds[@]}"; do
    say "awaiting the build: $preset"
    await_build "$preset" || { failed_phases+=("$preset build"); total_failed=$((total_failed + 1)); }
done

say "native tests under AddressSanitizer and UBSan:"
cat "$logs/native-asan-tests.log"
if await_build native-asan >/dev/null; then
    count_junit native-asan "$logs/native-asan.xml"
else
    failed_phases+=("native-asan build"); total_failed=$((total_failed + 1))
fi

say "awaiting the build: fuzz"
if await_build fuzz; then
    say "fuzz targets (corpus replay and bounded runs)"
    # Each bounded run is one process on one core: both at once.
    run_ctest fuzz --preset fuzz -j2
else
    failed_phases+=("fuzz build"); total_failed=$((total_failed + 1))
fi

say "reproducible build: the product built again in another folder, compared byte for byte"
if await_build reproducible; then
    cat "$logs/reproducible.log"
    total_passed=$((total_passed + 1))
else
    failed_phases+=("reproducible build"); total_failed=$((total_failed + 1))
fi

# Every build was awaited: nothing is left to stop (a pid may be reused).
queue_pids=()
say "summary"
if [ ${#failed_phases[@]} -gt 0 ]; then
    echo "failed: ${failed_phases[*]}"
fi
if [ "$total_skipped" -gt 0 ]; then
    echo "skipped tests say why above (ctest lists them as \"did not run\")"
fi
echo "${total_passed} passed, ${total_failed} failed, ${total_skipped} skipped"
[ "$total_failed" -eq 0 ]
