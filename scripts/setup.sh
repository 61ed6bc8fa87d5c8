#!/usr/bin/env bash
# Installs what building and testing imex need on a Debian 12 machine, and
# lets the machine run 32-bit programs (Wine's i386 side). Safe to run
# again: it only acts on what is missing, and says what it does.
set -euo pipefail

say() { printf 'setup: %s\n' "$*"; }

PACKAGES=(
    # native build, tests, fuzzing, benchmarks
    cmake ninja-build g++ clang-14 libclang-rt-14-dev libfuzzer-14-dev
    googletest libgtest-dev libbenchmark-dev python3 file procps util-linux
    # the Windows cross-build (posix thread model: GoogleTest needs std::thread)
    g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
    # running it: 32-bit Wine, an X server without a screen, Chinese fonts,
    # the zh_CN locale sources, screenshots
    wine wine32:i386 xvfb fonts-wqy-microhei locales x11-apps imagemagick
    # a native (64-bit) wine server; the 32-bit one would run emulated below
    wine64
    # i386 user-mode emulation for kernels that cannot run 32-bit code
    qemu-user-static
)

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

if ! dpkg --print-foreign-architectures | grep -qx i386; then
    say "adding the i386 architecture (for wine32)"
    as_root dpkg --add-architecture i386
    need_update=1
fi

missing=()
for pkg in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$pkg")
    fi
done

if [ ${#missing[@]} -gt 0 ]; then
    say "installing: ${missing[*]}"
    as_root apt-get update -q
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
elif [ -n "${need_update:-}" ]; then
    as_root apt-get update -q
else
    say "all packages present"
fi

# Some kernels (and hypervisors) do not execute i386 ELF binaries. Wine's
# 32-bit side then runs under qemu's user-mode emulation, registered with
# binfmt_misc so that every exec of an i386 binary goes through it.
if [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
    say "32-bit programs run under qemu-i386 emulation (registered before)"
elif /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
    say "32-bit programs run natively"
else
    binfmt=/proc/sys/fs/binfmt_misc
    if [ ! -e "$binfmt/register" ]; then
        say "mounting binfmt_misc"
        as_root mount -t binfmt_misc binfmt_misc "$binfmt"
    fi
    if [ ! -e "$binfmt/qemu-i386" ]; then
        say "registering qemu-i386-static for i386 binaries (this kernel cannot run them)"
        printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:POCF' \
            | as_root tee "$binfmt/register" >/dev/null
    fi
    if /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
        say "32-bit programs run under qemu-i386 emulation"
    else
        say "ERROR: this machine cannot run 32-bit programs, so Wine's i386 side cannot start"
        exit 1
    fi
fi
