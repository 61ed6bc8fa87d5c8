#!/usr/bin/env bash
# scripts/setup.sh on a machine where a qemu-i386 binfmt emulator is
# registered: the registration is left exactly as it was, and the machine
# counts as one without 32-bit support, with runs-i386.sh saying why.
#
# It runs in a user and mount namespace of its own: a tmpfs stands in for
# /proc/sys/fs/binfmt_misc there, and apt-get, dpkg and dpkg-query are stubs
# that install nothing, so the machine itself is never touched.
#
#   setup_leaves_binfmt.sh REPO
set -euo pipefail
repo=$(cd "$1" && pwd)
binfmt=/proc/sys/fs/binfmt_misc

source "$(dirname "$0")/own-namespace.sh" setup_leaves_binfmt "$binfmt" "$@"

printf 'enabled\ninterpreter /usr/libexec/qemu-binfmt/i386-binfmt-P\nflags: POCF\noffset 0\n' > "$binfmt/qemu-i386"
printf '1\n' > "$binfmt/status"
snapshot() { (cd "$binfmt" && for f in *; do printf '== %s %s\n' "$f" "$(stat -c %a "$f")"; cat "$f"; done); }
before=$(snapshot)

stubs=$(mktemp -d)
trap 'rm -rf "$stubs"' EXIT
# Every package counts as installed; nothing else may be asked of them.
printf '#!/bin/sh\nprintf "install ok installed"\n' > "$stubs/dpkg-query"
for tool in apt-get dpkg sudo; do
    printf '#!/bin/sh\necho "%s $*" >> "%s/called"\n' "$tool" "$stubs" > "$stubs/$tool"
done
chmod +x "$stubs"/*

output=$(PATH="$stubs:$PATH" bash "$repo/scripts/setup.sh" 2>&1)
printf '%s\n' "$output"

failed=0
fail() { echo "setup_leaves_binfmt: FAILED: $*"; failed=1; }
[ "$(snapshot)" = "$before" ] || fail "$binfmt changed: before:
$before
after:
$(snapshot)"
[ ! -e "$stubs/called" ] || fail "setup called the package tools: $(cat "$stubs/called")"
grep -q 'does not run 32-bit x86 programs' <<<"$output" || fail "setup did not take the machine for one without 32-bit support"
grep -q 'no 32-bit support: .*qemu-i386' <<<"$output" || fail "runs-i386.sh did not name the qemu-i386 emulator as the reason"
[ $failed -eq 0 ] && echo "setup_leaves_binfmt: $binfmt as it was; no 32-bit support, the emulator named as why"
exit $failed
