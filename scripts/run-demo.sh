#!/usr/bin/env bash
# Builds Tarvo32 and runs the upgrade wizard of the sample delivery against a simulated modem on
# COM3. Without a display it runs the same upgrade from the command line instead.
#   TARVO_DEMO_PORT=COM5   the port the simulated modem is linked as (default COM3)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"

jobs=$(nproc 2>/dev/null || echo 2)
cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVO_TESTS=OFF -DTARVO_BENCH=OFF >/dev/null
cmake --build "$top/build" -j"$jobs" --target Tarvo32 modemsim

demo="$top/out/demo"
rm -rf "$demo"
mkdir -p "$demo/delivery" "$demo/host"
cp "$top/samples/delivery/"* "$demo/delivery/"
cp "$top/build/Tarvo32" "$demo/delivery/"
export TARVO_HOST="$demo/host"
port=${TARVO_DEMO_PORT:-COM3}

"$top/build/modemsim" --port "$port" --baud 115200 --image-out "$demo/received.bin" >"$demo/modemsim.log" 2>&1 &
sim=$!
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null || true' EXIT
for _ in $(seq 50); do
  grep -q '^ready' "$demo/modemsim.log" 2>/dev/null && break
  sleep 0.1
done
echo "Simulated modem on $port ($(head -1 "$demo/modemsim.log"))" >&2

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] || [ -n "${QT_QPA_PLATFORM:-}" ]; then
  "$demo/delivery/Tarvo32"
else
  echo "No display: running the upgrade from the command line instead of the wizard." >&2
  "$demo/delivery/Tarvo32" config
  "$demo/delivery/Tarvo32" probe "$port" || true
  "$demo/delivery/Tarvo32" upgrade "$port"
fi
