#!/usr/bin/env bash
# Installs what a fresh Debian 12 lacks to cross-build Tarvo32.exe and run it under Wine: the
# MinGW-w64 compilers with the win32 thread model (no winpthreads, cmake/mingw-w64-common.cmake),
# 32-bit for the program as it ships, 64-bit for a kernel that cannot run 32-bit code, Wine with both halves (the i386 architecture added for
# the 32-bit one), Xvfb for a display and ImageMagick for the pictures of the windows under Wine.
# As root it runs apt-get; otherwise it names what is missing and how to install it.
set -euo pipefail

packages=(cmake make g++ g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32
          wine wine32:i386 wine64 xvfb xauth imagemagick)

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
# The googletest sources: the Windows test executable builds its own copy of the framework.
installed googletest || missing+=(googletest)

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "The Windows build needs these Debian packages: ${missing[*]}" >&2
  echo "Install them as root with:" >&2
  echo "  dpkg --add-architecture i386 && apt-get update && apt-get install ${missing[*]}" >&2
  exit 1
fi

echo "Installing ${missing[*]} ..." >&2
export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
apt-get -o DPkg::Lock::Timeout=300 update -qq
apt-get -o DPkg::Lock::Timeout=300 install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
