#!/usr/bin/env bash
# Installs the Debian 12 packages Tarvo32 needs to build, test and show its windows.
# As root it runs apt-get; otherwise it names what is missing and how to install it.
set -euo pipefail

packages=(cmake g++ make pkg-config googletest libgtest-dev libgmock-dev
          qt6-base-dev fonts-liberation xvfb xauth
          clang libclang-rt-14-dev   # clang and libFuzzer for the fuzz targets
          libudev-dev umockdev libumockdev-dev)  # USB modems plugged in; their tests' fake device tree

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "Tarvo32 needs these Debian packages: ${missing[*]}" >&2
  echo "Install them as root with:" >&2
  echo "  apt-get update && apt-get install --no-install-recommends ${missing[*]}" >&2
  exit 1
fi

echo "Installing ${missing[*]} ..." >&2
export DEBIAN_FRONTEND=noninteractive
apt-get -o DPkg::Lock::Timeout=300 update -qq
apt-get -o DPkg::Lock::Timeout=300 install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
