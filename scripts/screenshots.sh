#!/usr/bin/env bash
# Makes the documentation's screenshots: builds the screenshot build of Tarvo32 (tools/screenshots)
# and modemsim when needed, runs the real wizard of the sample delivery against a simulated modem
# on COM3 on Qt's offscreen platform, and lets the screenshot driver (pictures to
# TARVO_SCREENSHOT_DIR) walk through every page, the About box and the message boxes. Then the
# production-line dialog of the same delivery (with For_internal_production=TRUE) against four
# simulated modems on COM1 to COM4, one of them pulled out mid-transfer: the dialog under way, its
# window menu, its messages (production-*.png). The PNGs land in docs/screenshots/.
#   TARVO_SCREENSHOT_BUILD=DIR   build folder to use (default build-screenshots)
#   TARVO_SCREENSHOT_BAUD=N      line speed of the simulated modem (default 38400, slow enough
#                                for a picture of the upload in progress)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${TARVO_SCREENSHOT_BUILD:-$top/build-screenshots}
baud=${TARVO_SCREENSHOT_BAUD:-38400}
out="$top/docs/screenshots"
port=COM3
run_limit_s=120

if [ ! -x "$build/screenshots/Tarvo32" ] || [ ! -x "$build/modemsim" ]; then
  cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVO_TESTS=OFF -DTARVO_BENCH=OFF >/dev/null
fi
cmake --build "$build" -j2 --target tarvo32_screenshots modemsim

work=$(mktemp -d)
sims=()
cleanup() {
  for sim in "${sims[@]}"; do
    kill "$sim" 2>/dev/null || true
    wait "$sim" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT

# start_sim PORT [MODEMSIM OPTIONS...]: a simulated modem on PORT, once it is ready.
start_sim() {
  local at=$1 log="$work/modemsim-$1.log"
  shift
  "$build/modemsim" --port "$at" "$@" >"$log" 2>&1 &
  sims+=($!)
  for _ in $(seq 50); do
    grep -q '^ready' "$log" 2>/dev/null && return 0
    sleep 0.1
  done
  echo "modemsim did not start:" >&2
  cat "$log" >&2
  exit 1
}

mkdir -p "$work/delivery" "$work/host" "$work/shots" "$work/runtime"
chmod 700 "$work/runtime"
cp "$top/samples/delivery/"* "$work/delivery/"
cp "$build/screenshots/Tarvo32" "$work/delivery/"
export TARVO_HOST="$work/host"

start_sim "$port" --baud "$baud" --image-out "$work/received.bin"

XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=offscreen TARVO_SCREENSHOT_DIR="$work/shots" \
  timeout "$run_limit_s" "$work/delivery/Tarvo32"

# The production-line dialog: the wizard's modem goes, four others come.
for sim in "${sims[@]}"; do
  kill "$sim" 2>/dev/null || true
  wait "$sim" 2>/dev/null || true
done
sims=()
rm -rf "$work/host"
mkdir -p "$work/host" "$work/shots-production"
sed -i 's/^For_internal_production=.*/For_internal_production=TRUE/' "$work/delivery/Tarvo32.ini"
start_sim COM1 --baud 115200
start_sim COM2 --baud 38400
start_sim COM3 --baud 19200
start_sim COM4 --baud 115200 --pull-out-after 40
XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=offscreen TARVO_SCREENSHOT_DIR="$work/shots-production" \
  timeout "$run_limit_s" "$work/delivery/Tarvo32"
shopt -s nullglob
for picture in "$work/shots-production"/*.png; do
  mv "$picture" "$work/shots/production-$(basename "$picture")"
done

shots=("$work/shots"/*.png)
[ ${#shots[@]} -gt 0 ] || { echo "no screenshots were taken" >&2; exit 1; }
mkdir -p "$out"
rm -f "$out"/*.png
cp "${shots[@]}" "$out/"
ls -1 "$out"
