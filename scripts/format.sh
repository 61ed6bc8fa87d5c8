#!/usr/bin/env bash
# Formats the C and C++ sources in the house style (.clang-format).
#
#   scripts/format.sh           rewrite every file that differs
#   scripts/format.sh --check   change nothing; name the files that differ, exit 1 if any
#
# The sources are git's tracked files, so this needs git and a checkout; it
# fails, naming the cause, where it cannot list them or finds none.
set -euo pipefail
source "$(dirname "$0")/common.sh"
cd "$IMEX_REPO"
case "${1:-}" in
    "") check="" ;;
    --check) check=1 ;;
    -h|--help) sed -n '2,8s/^# \{0,1\}//p' "$0"; exit 0 ;;
    *) echo "format: unknown option $1 (--check or nothing)" >&2; exit 2 ;;
esac
SOURCES=('include/*.h' 'src/*.c' 'src/*.cpp' 'src/*.h' 'tools/*.c' 'tools/*.cpp' 'tools/*.h'
         'tests/*.c' 'tests/*.cpp' 'tests/*.h' 'bench/*.cpp' 'bench/*.h')
list=$(imex_tracked_files format "${SOURCES[@]}") || exit 1
mapfile -t files <<<"$list"
if [ -n "$check" ]; then
    clang-format --dry-run --Werror "${files[@]}"
    echo "format: ${#files[@]} files in the house style"
else
    clang-format -i "${files[@]}"
fi
