#!/usr/bin/env bash
# Runs every test: native unit tests, the same under ASan/UBSan, bounded
# fuzz runs, and the Windows tests of the real imex.dll under Wine (with
# the device simulator on pseudo-terminals), on the 32-bit build where the
# machine runs 32-bit programs and on the 64-bit build everywhere. Installs
# what is missing first.
# Ends with one line "N passed, M failed"; exits non-zero on any failure.
set -uo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)

say() { printf '\n=== %s\n' "$*"; }
total_passed=0
total_failed=0
total_skipped=0
failed_phases=()

# Runs ctest with the given arguments and adds its counts to the totals.
run_ctest() {
    local phase="$1"; shift
    local log
    log=$(mktemp)
    ctest "$@" 2>&1 | tee "$log"
    local line passed failed all skipped
    line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
    if [ -z "$line" ]; then
        failed_phases+=("$phase (no test summary)")
        total_failed=$((total_failed + 1))
    else
        failed=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
        all=$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"$line")
        skipped=$(grep -cE '\(Skipped\)$' "$log" || true)
        passed=$((all - failed - skipped))
        total_passed=$((total_passed + passed))
        total_skipped=$((total_skipped + skipped))
        total_failed=$((total_failed + failed))
        [ "$failed" -eq 0 ] || failed_phases+=("$phase")
    fi
    rm -f "$log"
}

build() {
    local preset="$1"
    say "configure and build: $preset"
    cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" -j2
}

say "setup"
bash scripts/setup.sh || { echo "setup failed"; exit 1; }

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
    run_ctest fuzz --test-dir build/fuzz --output-on-failure
else
    failed_phases+=("fuzz build"); total_failed=$((total_failed + 1))
fi

# The Windows suites: the 32-bit product where this machine runs 32-bit
# programs, and the 64-bit build everywhere.
if bash scripts/runs-i386.sh; then
    windows_presets=(windows windows64)
else
    windows_presets=(windows64)
    say "this machine does not run 32-bit x86 programs: the Windows tests run on the 64-bit build only"
    # The 32-bit DLL is the product: it is still built (export, stdcall
    # fix-up, i686 code), only its programs cannot run here.
    build windows || { failed_phases+=("windows build"); total_failed=$((total_failed + 1)); }
fi

xvfb_pid=""
if [ -z "${DISPLAY:-}" ]; then
    fdfile=$(mktemp)
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fdfile" >/dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 1 100); do [ -s "$fdfile" ] && break; sleep 0.05; done
    export DISPLAY=":$(tr -d '\n' <"$fdfile")"
    rm -f "$fdfile"
    echo "started Xvfb on $DISPLAY"
fi
export IMEX_PDASIM="$repo/build/native/tools/pdasim/pdasim"
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
if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; fi

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
