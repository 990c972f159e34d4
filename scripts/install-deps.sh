#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, skipping what is
# already there, so that it is cheap to run before every build. Run as root.
set -euo pipefail

packages=(
    cmake ninja-build g++ libgtest-dev           # the native core and its tests
    clang libclang-rt-14-dev                     # the fuzzer
    g++-mingw-w64-i686 binutils-mingw-w64-i686   # the 32-bit Windows program
    wine wine32:i386 xvfb x11-utils              # running it; a virtual display for tests
    python3 python3-pefile                       # the executable's format check
    time                                         # peak memory in the benchmark
)

missing=()
for package in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [[ $status == "install ok installed" ]] || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

# Wine runs 32-bit programs through i386 multiarch.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi
apt-get update
DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
