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

# Runs ctest with the given arguments and adds the counts of its JUnit
# report to the totals.
run_ctest() {
    local phase="$1"; shift
    local junit counts passed failed skipped
    junit=$(mktemp --suffix=.xml)
    ctest "$@" --output-junit "$junit"
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

build() {
    local preset="$1"
    say "configure and build: $preset"
    cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" -j2
}

say "setup"
bash scripts/setup.sh || { echo "setup failed"; exit 1; }

say "house style of the C and C++ sources (.clang-format)"
if bash scripts/format.sh --check; then total_passed=$((total_passed + 1))
else failed_phases+=("house style: scripts/format.sh rewrites the files named above"); total_failed=$((total_failed + 1)); fi

if build native; then
    say "native tests"
    run_ctest native --preset native -j2
else
    failed_phases+=("native build"); total_failed=$((total_failed + 1))
fi

if build native-asan; then
    say "native tests under AddressSanitizer and UBSan"
    run_ctest native-asan --preset native-asan -j2
else
    failed_phases+=("native-asan build"); total_failed=$((total_failed + 1))
fi

if build fuzz; then
    say "fuzz targets (corpus replay and bounded runs)"
    # Each bounded run is one process on one core: both at once.
    run_ctest fuzz --preset fuzz -j2
else
    failed_phases+=("fuzz build"); total_failed=$((total_failed + 1))
fi

# The Windows suites: the 32-bit product where this machine runs 32-bit
# programs, and the 64-bit build everywhere.
read -ra windows_presets <<<"$(imex_runnable_windows_presets)"
if [ "${windows_presets[*]}" = windows64 ]; then
    say "this machine does not run 32-bit x86 programs: the Windows tests run on the 64-bit build only"
    # The 32-bit DLL is the product: it is still built (export, stdcall
    # fix-up, i686 code), only its programs cannot run here.
    build windows || { failed_phases+=("windows build"); total_failed=$((total_failed + 1)); }
fi

export IMEX_ARTIFACTS="$repo/build/artifacts"
mkdir -p "$IMEX_ARTIFACTS"

for preset in "${windows_presets[@]}"; do
    if [ "$preset" = windows64 ]; then arch=win64; else arch=win32; fi
    if ! build "$preset"; then
        failed_phases+=("$preset build"); total_failed=$((total_failed + 1))
        continue
    fi
    say "Windows tests under Wine: $preset ($arch)"
    if IMEX_WINE_ARCH=$arch bash tests/wine/winerun.sh --init && IMEX_WINE_ARCH=$arch bash tests/wine/winerun.sh --warm; then
        run_ctest "$preset" --preset "$preset"
    else
        failed_phases+=("Wine prefix $arch"); total_failed=$((total_failed + 1))
    fi
    IMEX_WINE_ARCH=$arch bash tests/wine/winerun.sh --stop
done

say "reproducible build: the product built again in another folder, compared byte for byte"
if bash scripts/reproducible.sh; then total_passed=$((total_passed + 1))
else failed_phases+=("reproducible build"); total_failed=$((total_failed + 1)); fi

say "summary"
if [ ${#failed_phases[@]} -gt 0 ]; then
    echo "failed: ${failed_phases[*]}"
fi
if [ "$total_skipped" -gt 0 ]; then
    echo "skipped tests say why above (ctest lists them as \"did not run\")"
fi
echo "${total_passed} passed, ${total_failed} failed, ${total_skipped} skipped"
[ "$total_failed" -eq 0 ]
