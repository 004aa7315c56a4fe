#!/usr/bin/env bash
# Builds Tarvo32 and runs every test: the upload worker tests under ThreadSanitizer, then the
# whole suite under AddressSanitizer and UndefinedBehaviorSanitizer, then each fuzz target for
# about a minute (FUZZ_SECONDS), then the Windows build under Wine (scripts/run-win32-tests.sh, and
# scripts/run-win32-gui-tests.sh for its windows where that script exists). Fails when any part
# fails.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"

jobs=$(nproc 2>/dev/null || echo 2)
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1}
runtime=$(mktemp -d /tmp/tarvo-xdg-XXXXXX)
chmod 700 "$runtime"
export XDG_RUNTIME_DIR=$runtime
trap 'rm -rf "$runtime"' EXIT

# The worker and station code and posting from other threads under ThreadSanitizer (no windows
# needed there).
cmake -S "$top" -B "$top/build-tsan" -DCMAKE_BUILD_TYPE=Debug -DTARVO_TSAN=ON \
      -DTARVO_WITH_QT=OFF -DTARVO_BENCH=OFF >/dev/null
cmake --build "$top/build-tsan" -j"$jobs" --target tarvo_tests
(cd "$top/build-tsan" && ctest --output-on-failure -j"$jobs" -R 'Worker|Upload|Station|DeviceNotify|CrossThread|BackendContract|ProductionDialog')

# Everything under AddressSanitizer and UndefinedBehaviorSanitizer.
cmake -S "$top" -B "$top/build-asan" -DCMAKE_BUILD_TYPE=Debug -DTARVO_SANITIZE=ON \
      -DTARVO_BENCH=OFF >/dev/null
cmake --build "$top/build-asan" -j"$jobs"
(cd "$top/build-asan" && ctest --output-on-failure -j"$jobs" --timeout 900)

# The readers of outside input keep finding nothing: a bounded run of each fuzz target.
FUZZ_SECONDS=${FUZZ_SECONDS:-60} "$top/scripts/run-fuzz.sh"

# The Windows build: Tarvo32.exe and its logic tests under Wine, and its command line against the
# Linux program's. Its toolchain and Wine are installed first (as root; otherwise the script names
# what is missing).
"$top/scripts/install-win32-deps.sh"
TARVO_JOBS=${TARVO_JOBS:-$jobs} "$top/scripts/run-win32-tests.sh"
# Its windows, where the tree has a script for them.
if [ -f "$top/scripts/run-win32-gui-tests.sh" ]; then
  TARVO_JOBS=${TARVO_JOBS:-$jobs} bash "$top/scripts/run-win32-gui-tests.sh"
fi
