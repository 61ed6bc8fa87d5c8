#!/usr/bin/env bash
# Builds the release ZIPs of a commit from scratch and prints their paths
# and SHA-256 sums:
#
#   build/windows/imex-<version>-win32.zip     for 32-bit host programs
#   build/windows64/imex-<version>-win64.zip   for 64-bit host programs
#
# A release is a commit: a tree with uncommitted changes is refused. Every
# file time in the ZIPs is the commit's time, so another folder or machine
# building the same commit gets the same bytes (scripts/reproducible.sh).
set -euo pipefail
source "$(dirname "$0")/common.sh"
cd "$IMEX_REPO"

bash scripts/setup.sh
imex_need_git release || exit 1
if [ -n "$(git status --porcelain)" ]; then
    echo "release: the tree has uncommitted changes; commit or stash them first" >&2
    exit 1
fi
SOURCE_DATE_EPOCH=$(imex_commit_time release) || exit 1
export SOURCE_DATE_EPOCH

packages=()
for preset in windows windows64; do
    printf '\n=== %s: configure, build from scratch, package\n' "$preset"
    cmake --preset "$preset" --fresh >/dev/null
    cmake --build --preset "$preset" -j2 --clean-first --target imex_release
    (cd "build/$preset" && cpack)
    packages+=("$(pwd)/build/$preset/$(sed -n 's/^set(CPACK_PACKAGE_FILE_NAME "\(.*\)")$/\1/p' \
        "build/$preset/CPackConfig.cmake").zip")
done

printf '\n=== release of %s\n' "$(git rev-parse --short HEAD)"
sha256sum "${packages[@]}"
