#!/usr/bin/env bash
# Checks that the product is reproducible: builds it a second time from a
# copy of this tree in another folder and compares the two byte for byte
# (imex.dll, its import libraries and .def, the release ZIP) for each
# Windows preset. The builds in build/ are brought up to date first. Both
# ZIPs get the same time, this tree's commit time (the copy is no git
# checkout). Prints what differs and exits 1 if anything does.
#
#   scripts/reproducible.sh [PRESET...]     default: windows windows64
set -euo pipefail
source "$(dirname "$0")/common.sh"
cd "$IMEX_REPO"
repo=$IMEX_REPO
presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(windows windows64)

# Only cpack gets it: the builds must be the same without it.
package_time=$(imex_commit_time reproducible) || exit 1
copy=$(mktemp -d "${TMPDIR:-/tmp}/imex-reproducible.XXXXXX")
trap 'rm -rf "$copy"' EXIT
# What a build of this tree reads: tracked files as they are now, and new
# ones that are not ignored.
git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' file; do [ -e "$file" ] && printf '%s\0' "$file"; done |
    xargs -0 --no-run-if-empty cp --parents -t "$copy"
[ -f "$copy/CMakeLists.txt" ] || { echo "reproducible: copying the tree to $copy failed" >&2; exit 1; }

differ=0
for preset in "${presets[@]}"; do
    for tree in "$repo" "$copy"; do
        (cd "$tree" && cmake --preset "$preset" >/dev/null &&
            cmake --build --preset "$preset" -j2 --target imex_release >/dev/null &&
            cd "build/$preset" && SOURCE_DATE_EPOCH=$package_time cpack >/dev/null) ||
            { echo "reproducible: building $preset in $tree failed" >&2; exit 1; }
    done
    package=$(sed -n 's/^set(CPACK_PACKAGE_FILE_NAME "\(.*\)")$/\1/p' "build/$preset/CPackConfig.cmake").zip
    for file in bin/imex.dll sdk/lib/libimex.dll.a sdk/lib/imex.lib sdk/lib/imex.def "$package"; do
        if cmp "build/$preset/$file" "$copy/build/$preset/$file"; then
            echo "reproducible: $preset $file: the same in both folders"
        else
            differ=1
        fi
    done
done
if [ "$differ" -ne 0 ]; then
    echo "reproducible: the builds in $repo and in another folder differ (see above)" >&2
    exit 1
fi
