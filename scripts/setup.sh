#!/usr/bin/env bash
# Installs what building and testing imex need on a Debian 12 machine. Safe
# to run again: it only acts on what is missing, and says what it does.
#
# scripts/setup.sh --native installs only what the native tools need
# (scripts/send.sh without --dll): no Wine, no cross-compilers, no i386.
#
# Both Windows builds are made everywhere. 32-bit Wine (wine32:i386) is
# installed only where the kernel runs 32-bit x86 programs natively; the
# 64-bit build runs under wine64 on every machine. System settings are left
# as they are: a registered qemu-i386 binfmt emulator stays registered, and
# such a machine counts as one without 32-bit support (scripts/runs-i386.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

say() { printf 'setup: %s\n' "$*"; }

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

PACKAGES=(
    # native build, tests, fuzzing, benchmarks
    cmake ninja-build g++ clang-14 libclang-rt-14-dev libfuzzer-14-dev
    googletest libgtest-dev libbenchmark-dev python3 file procps util-linux
    # the tracked sources (house style, reproducible build) and the commit's time (release ZIPs)
    git
    # the house style of the C and C++ sources (scripts/format.sh)
    clang-format
    # recfile build --vcard parses vCards with it
    python3-vobject
    # the Windows cross-builds (posix thread model: GoogleTest needs std::thread)
    g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
    g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
    # imex.lib for MSVC hosts (llvm-dlltool), the MSVC-style host test (clang, lld-link), the release ZIP
    llvm-14 lld-14 zip
    # the check's test unpacks the release ZIP as a host developer would
    unzip
    # running them: Wine's 64-bit loader and server, an X server without a
    # screen, Chinese fonts, the zh_CN locale sources, screenshots
    wine wine64 xvfb fonts-wqy-microhei locales x11-apps imagemagick
)

# The native tools alone: building them, and recfile's vCard reader.
NATIVE_PACKAGES=(cmake ninja-build g++ python3 python3-vobject)
native=""
case "${1:-}" in
    --native) native=1 ;;
    "") ;;
    *) echo "usage: scripts/setup.sh [--native]" >&2; exit 2 ;;
esac
if [ -n "$native" ]; then PACKAGES=("${NATIVE_PACKAGES[@]}"); fi

if [ -n "$native" ]; then
    say "the native tools only"
elif bash scripts/runs-i386.sh; then
    say "this kernel runs 32-bit x86 programs: both Windows builds will be tested"
    PACKAGES+=(wine32:i386)
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        say "adding the i386 architecture (for wine32)"
        as_root dpkg --add-architecture i386
        need_update=1
    fi
else
    say "this kernel does not run 32-bit x86 programs: the 64-bit build is tested under wine64"
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
