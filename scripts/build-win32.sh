#!/usr/bin/env bash
# Cross-builds the Windows program and its logic tests with MinGW-w64 (Release):
#   scripts/build-win32.sh [i686] [TARGET...]   build-win32/Tarvo32.exe, Tarvo32.com and
#                                               tarvo_tests.exe, the 32-bit program as it ships
#   scripts/build-win32.sh x86_64 [TARGET...]   build-win32-x64/: the same sources as 64-bit
#                                               programs, for a 64-bit-only Wine
# Targets default to Tarvo32 tarvo32_console tarvo_tests. Installs the toolchain first when run as root on a
# machine that lacks it (scripts/install-win32-deps.sh). TARVO_JOBS sets the parallel jobs (2).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-win32-deps.sh"

arch=i686
if [ $# -gt 0 ] && { [ "$1" = i686 ] || [ "$1" = x86_64 ]; }; then
  arch=$1
  shift
fi
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(Tarvo32 tarvo32_console tarvo_tests)

case $arch in
  i686) build=$top/build-win32 ;;
  x86_64) build=$top/build-win32-x64 ;;
esac
jobs=${TARVO_JOBS:-2}
cmake -S "$top" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-$arch.cmake" \
      -DCMAKE_BUILD_TYPE=Release -DTARVO_WITH_QT=OFF -DTARVO_BENCH=OFF >/dev/null
cmake --build "$build" -j"$jobs" --target "${targets[@]}"
echo "built ${targets[*]} in $build"
