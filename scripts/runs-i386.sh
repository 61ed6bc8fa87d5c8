#!/usr/bin/env bash
# Exits 0 when this machine's kernel executes 32-bit x86 programs natively,
# 1 when it does not (some kernels run with IA-32 emulation off). It runs a
# 96-byte static i386 program that only calls exit(42), so it needs no
# 32-bit library. A qemu-user binfmt handler would fake the answer, so one
# that is registered counts as "not native".
set -u
if [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ] && grep -qx enabled /proc/sys/fs/binfmt_misc/qemu-i386 2>/dev/null; then
    exit 1
fi
# In the build tree, not /tmp, which may be mounted noexec.
dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build"
mkdir -p "$dir" && probe=$(mktemp "$dir/i386-probe.XXXXXX") || exit 1
trap 'rm -f "$probe"' EXIT
printf '\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80' > "$probe"
chmod +x "$probe"
"$probe" 2>/dev/null
[ $? -eq 42 ]
