#!/usr/bin/env bash
# tests/wine/winerun.sh where Wine cannot be started (its loader missing, or
# one that fails): each way in says so, exits 125, and leaves the template,
# the working prefix and the port links as they were.
#
# It runs in a user and mount namespace of its own, where an empty tmpfs (or
# one holding a loader that fails) stands in for /usr/lib/wine, with a Wine
# folder of its own (IMEX_WINE_DIR) that holds a template and a prefix.
#
#   winerun_without_wine.sh REPO
set -euo pipefail
repo=$(cd "$1" && pwd)
wine_lib=/usr/lib/wine

source "$(dirname "$0")/own-namespace.sh" winerun_without_wine "$wine_lib" "$@"

export IMEX_WINE_DIR IMEX_WINE_ARCH=win64
IMEX_WINE_DIR=$(mktemp -d)
trap 'rm -rf "$IMEX_WINE_DIR"' EXIT
mkdir -p "$IMEX_WINE_DIR/win64/template" "$IMEX_WINE_DIR/win64/prefix" "$IMEX_WINE_DIR/ports"
echo "a key of an earlier Wine" > "$IMEX_WINE_DIR/win64/template/.imex-template"
echo "a key of an earlier Wine" > "$IMEX_WINE_DIR/win64/prefix/.imex-template"
ln -s /dev/zero "$IMEX_WINE_DIR/ports/COM2"
snapshot() { (cd "$IMEX_WINE_DIR" && find . -printf '%p %l\n' | sort && cat win64/*/.imex-template); }
before=$(snapshot)

failed=0
cases=0
expect_refusal() {
    local what="$1" rc=0 said
    shift
    said=$(bash "$repo/tests/wine/winerun.sh" "$@" 2>&1) || rc=$?
    cases=$((cases + 1))
    if [ $rc -ne 125 ] || ! grep -q "Wine (win64) cannot be started: $what" <<<"$said"; then
        echo "winerun_without_wine: FAILED: winerun.sh $*: status $rc, said: $said"
        failed=1
    fi
    if [ "$(snapshot)" != "$before" ]; then
        echo "winerun_without_wine: FAILED: winerun.sh $* changed $IMEX_WINE_DIR:"
        diff <(echo "$before") <(snapshot) || true
        failed=1
    fi
}

for args in "--init" "--warm" "--port COM1=/dev/null --port COM2=/dev/null -- program.exe"; do
    # shellcheck disable=SC2086
    expect_refusal "its loader $wine_lib/wine64 is missing" $args
done
printf '#!/bin/sh\nexit 1\n' > "$wine_lib/wine64"
chmod +x "$wine_lib/wine64"
expect_refusal "\"$wine_lib/wine64 --version\" failed" --init

[ $failed -eq 0 ] && echo "winerun_without_wine: $cases runs refused, the Wine folder as it was"
exit $failed
