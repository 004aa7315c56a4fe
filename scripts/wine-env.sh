# Shared by the scripts that run the Windows build under Wine (sourced, not run): picks the Wine
# for the build that can run here, makes a fresh prefix of its own in which no COM port leads to
# a device of this machine (/dev/ttyS0 is its console), and serves simulated modems on the
# prefix's COM ports.
#
#   wine_pick_arch [DEFAULT]  sets arch (TARVO_WIN32_ARCH, else DEFAULT, else i686 where 32-bit
#                             programs run), wine_arch, wine_program, win_build
#   wine_make_prefix WORK     a prefix in WORK/prefix with every COMn claimed empty; exports
#                             WINEPREFIX, WINEARCH, WINEDEBUG, WINEDLLOVERRIDES
#   wine_host_ports_blocked   true when no COM port of the prefix leads to a host device
#   wine_start_modem PORT ARGS...   modemsim (from $host_build) as PORT, linked as the prefix's
#                             port; its pid joins modem_pids
#   wine_stop                 wineserver first (stopped after the modems it would write a dump of
#                             its port objects), then the modems
#   wine_gtest_outcome NAME OUT STATUS   a GoogleTest program's outcome into the caller's
#                             passed / failed counts (uses the caller's fail function)
# Needs: top (the repository), work (a temporary folder), host_build (with modemsim).

modem_pids=()

wine_pick_arch() {
  arch=${TARVO_WIN32_ARCH:-${1:-}}
  if [ -z "$arch" ]; then
    if /lib/ld-linux.so.2 --version >/dev/null 2>&1; then arch=i686; else arch=x86_64; fi
  fi
  if [ "$arch" = i686 ]; then
    win_build=$top/build-win32
    wine_arch=win32
    wine_program=wine
  else
    win_build=$top/build-win32-x64
    wine_arch=win64
    # Debian's wine prefers the 32-bit loader whenever it is installed.
    wine_program=/usr/lib/wine/wine64
    export WINELOADER=$wine_program
  fi
}

wine_run() { "$wine_program" "$@"; }
# The wineserver of the chosen Wine: beside its loader, where Debian keeps both halves' servers.
wine_server() {
  local server=/usr/lib/wine/wineserver64
  [ "$wine_arch" = win64 ] || [ -x "$server" ] || server=/usr/lib/wine/wineserver32
  [ -x "$server" ] || server=$(command -v wineserver)
  "$server" "$@"
}
# A Unix path as the prefix's Windows path (winepath run by the chosen Wine).
wine_path() { wine_run winepath -w "$1" 2>/dev/null; }

wine_make_prefix() {
  local into=$1
  export WINEPREFIX=$into/prefix WINEARCH=$wine_arch WINEDEBUG=-all
  # No Mono or Gecko installer prompts: no part of the program needs them.
  export WINEDLLOVERRIDES="mscoree,mshtml="
  wine_run wineboot --init >/dev/null 2>&1
  wine_server -w
  [ -d "$WINEPREFIX/dosdevices" ] || return 1
  # Every COM number the program can name is claimed empty, so Wine has none left to link to
  # the host's /dev/ttyS*; then every link Wine still made goes.
  { printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\r\n'
    for n in $(seq 1 256); do printf '"COM%d"=""\r\n' "$n"; done; } >"$into/ports.reg"
  wine_run regedit /S "$into/ports.reg" >/dev/null 2>&1
  wine_server -k
  wine_server -w
  wine_server -p
  wine_run cmd /c exit >/dev/null 2>&1
  rm -f "$WINEPREFIX"/dosdevices/com*
  wine_host_ports_blocked
}

# True when no COM port of the prefix leads to a device of this machine.
wine_host_ports_blocked() {
  [ -z "$(find "$WINEPREFIX/dosdevices" -maxdepth 1 -name 'com*' -lname '/dev/tty[SUA]*' | head -1)" ]
}

wine_start_modem() {
  local port=$1; shift
  local lower=${port,,}
  local out=$work/modem-$lower.out
  "$host_build/modemsim" --port "$port" "$@" >"$out" 2>"$work/modem-$lower.err" &
  modem_pids+=($!)
  for _ in $(seq 1 100); do
    if grep -q "^ready" "$out" 2>/dev/null; then
      ln -sfn "$(awk '/^ready/ {print $3; exit}' "$out")" "$WINEPREFIX/dosdevices/$lower"
      return 0
    fi
    sleep 0.05
  done
  return 1
}

wine_stop() {
  wine_server -k 2>/dev/null
  wine_server -w 2>/dev/null
  for pid in "${modem_pids[@]}"; do
    kill -TERM "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
}

# Adds a GoogleTest program's outcome (its output in OUT, its exit status) to the caller's passed
# and failed counts, printing its summary and, when something failed, the failures; the caller's
# fail function reports a missing summary or a bad status.
#   wine_gtest_outcome NAME OUT STATUS
wine_gtest_outcome() {
  local name=$1 out=$2 status=$3 summary ok bad
  summary=$(tr -d '\r' <"$out" | grep -E '^\[  (PASSED|FAILED|SKIPPED) *\]' | grep -E 'tests?[,.]')
  echo "$name (status $status):"
  echo "$summary" | sed 's/^/  /'
  ok=$(echo "$summary" | sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\?\..*/\1/p')
  bad=$(echo "$summary" | sed -n 's/^\[  FAILED  \] \([0-9]*\) tests\?, listed below.*/\1/p')
  if [ -z "$ok" ]; then
    fail "$name gave no summary" "$(tr -d '\r' <"$out" | tail -5)"
    return
  fi
  passed=$((passed + ok))
  failed=$((failed + ${bad:-0}))
  if [ "${bad:-0}" != 0 ] || [ "$status" != 0 ]; then
    tr -d '\r' <"$out" | grep -E '^\[  FAILED  \]|Failure|Which is|error:' | sed 's/^/     /' | head -40
    [ "${bad:-0}" != 0 ] || fail "$name ended with status $status"
  fi
}
