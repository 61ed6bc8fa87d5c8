#!/usr/bin/env bash
# Exits 0 when this machine's kernel executes 32-bit x86 programs natively,
# 1 when it does not, saying why on standard error ("no 32-bit support:
# ..."). It runs a 96-byte static i386 program that only calls exit(42), so
# it needs no 32-bit library. Where a qemu-i386 binfmt emulator is
# registered, every 32-bit x86 program runs through it, and 32-bit Wine
# under it crashes on the first serial-port I/O: such a machine counts as
# one without 32-bit support. The registration is the system's own and is
# left as it is.
set -u
no_support() {
    printf 'runs-i386: no 32-bit support: %s; the 64-bit build runs the Windows programs\n' "$*" >&2
    exit 1
}
binfmt=/proc/sys/fs/binfmt_misc/qemu-i386
if [ -e "$binfmt" ] && grep -qx enabled "$binfmt" 2>/dev/null; then
    no_support "32-bit x86 programs run here only through the qemu-i386 emulator registered in $binfmt, and 32-bit Wine must not run emulated"
fi
# In the build tree, not /tmp, which may be mounted noexec.
dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build"
if ! mkdir -p "$dir" || ! probe=$(mktemp "$dir/i386-probe.XXXXXX"); then
    no_support "the probe program cannot be written to $dir"
fi
trap 'rm -f "$probe"' EXIT
printf '\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80' > "$probe"
chmod +x "$probe"
# A probe killed by a signal is reported by its status alone, not by the shell.
{ "$probe"; } 2>/dev/null
status=$?
[ $status -eq 42 ] || no_support "the kernel does not execute 32-bit x86 programs (the probe ended with status $status, not 42; IA-32 emulation may be off)"
