#!/usr/bin/env bash
# The Windows build under Wine: builds Tarvo32.exe and the Windows logic tests, then in a fresh
# Wine prefix of its own
#   - runs the logic tests (tarvo_tests.exe), with a simulated modem on COM3 for the COM port
#     tests, and the version tests once per Windows version the prefix acts as;
#   - runs Tarvo32.exe config / probe / upgrade / production against tools/modemsim on
#     pseudo-terminals linked as the prefix's COM ports, and checks each outcome against the Linux
#     program's on the same delivery folder and modems: same lines, same exit status;
#   - runs Tarvo32.exe drivers [--dry-run] as Windows 98 and Windows 2000 against an old driver
#     put into the prefix's registry and C:\windows, and the Linux program against the same in its
#     host folder: the same changes, paths written alike, and the prefix changed as printed.
# Ends with "N passed, N failed" and a non-zero status when anything failed.
#
# The 32-bit program is the one that ships. On a Linux kernel that cannot run 32-bit code (no
# IA-32 emulation) the 32-bit Wine cannot start: the tests then run the same sources built as
# 64-bit programs under the 64-bit Wine, and say so. TARVO_WIN32_ARCH=i686 or x86_64 chooses.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
started=$(date +%s)
jobs=${TARVO_JOBS:-2}

die() { echo "run-win32-tests: $*" >&2; echo "0 passed, 1 failed"; exit 1; }

"$top/scripts/install-win32-deps.sh" || die "the Windows toolchain or Wine is missing"

arch=${TARVO_WIN32_ARCH:-}
if [ -z "$arch" ]; then
  if /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
    arch=i686
  else
    arch=x86_64
    echo "run-win32-tests: this kernel cannot run 32-bit programs; testing the 64-bit build" \
         "under the 64-bit Wine (the 32-bit Tarvo32.exe is built, not run)" >&2
  fi
fi

# The builds: the Windows programs, and the Linux program and modemsim for the simulated modems
# and the reference outcomes.
if [ "$arch" = i686 ]; then
  "$top/scripts/build-win32.sh" i686 || die "the Windows build failed"
  win_build=$top/build-win32
  wine_arch=win32
  wine_program=wine
else
  "$top/scripts/build-win32.sh" i686 Tarvo32 tarvo32_console || die "the 32-bit Windows build failed"
  "$top/scripts/build-win32.sh" x86_64 || die "the 64-bit Windows build failed"
  win_build=$top/build-win32-x64
  wine_arch=win64
  # Debian's wine prefers the 32-bit loader whenever it is installed.
  wine_program=/usr/lib/wine/wine64
  export WINELOADER=$wine_program
fi
# The shipping programs' imports and headers, read as the loader of each supported Windows will.
if "$top/scripts/check-win32-imports.sh" "$top/build-win32"; then
  imports_checked=1
else
  imports_checked=0
fi
host_build=$top/build-win32-host
{ cmake -S "$top" -B "$host_build" -DCMAKE_BUILD_TYPE=Release -DTARVO_WITH_QT=OFF -DTARVO_TESTS=OFF \
        -DTARVO_BENCH=OFF >/dev/null &&
  cmake --build "$host_build" -j"$jobs" --target Tarvo32 modemsim >/dev/null; } ||
  die "the Linux build of Tarvo32 and modemsim failed"
built=$(date +%s)

work=$(mktemp -d /tmp/tarvo-wine-XXXXXX)
. "$top/scripts/wine-env.sh"
export TARVO_HOST=$work/host
mkdir -p "$TARVO_HOST/ports" "$work/delivery"

cleanup() {
  wine_stop
  rm -rf "$work"
}
trap cleanup EXIT

passed=0
failed=0
pass() { passed=$((passed + 1)); echo "PASS $1"; }
fail() { failed=$((failed + 1)); echo "FAIL $1"; shift; for line in "$@"; do echo "     $line"; done; }
if [ "$imports_checked" = 1 ]; then
  pass "the shipping programs import only what every supported Windows exports"
else
  fail "the shipping programs' imports or headers (scripts/check-win32-imports.sh above)"
fi

# Wine's text without its CR LF line ends.
unix_text() { tr -d '\r' < "$1"; }
# The same with the paths Wine shows on its drive Z: ("Z:\tmp\x") as the host's ("/tmp/x").
host_paths_text() { unix_text "$1" | sed -E '/Z:\\/ { s/Z:\\/\//g; s/\\/\//g; }'; }

# The prefix, in which no COM port leads to a device of this machine (/dev/ttyS0 is its console):
# only the simulated modems' links are made, while one wineserver serves the whole run.
prefix_start=$(date +%s)
wine_make_prefix "$work" || die "no Wine prefix without the host's COM ports could be made in $work"
prefix_seconds=$(( $(date +%s) - prefix_start ))
start_modem() { wine_start_modem "$@"; }

# --- The logic tests -------------------------------------------------------------------------
start_modem COM3 || die "modemsim did not start"
tests_out=$work/tests.out
TARVO_TEST_PORT=COM3 wine_run "$win_build/tarvo_tests.exe" >"$tests_out" 2>&1
tests_status=$?
wine_gtest_outcome tarvo_tests.exe "$tests_out" "$tests_status"

# GetVersionExA under the versions the prefix can act as (PLATFORMID.MAJOR.MINOR).
for pair in win98=1.4.10 winme=1.4.90 win2k=2.5.0 winxp=2.5.1; do
  name=${pair%%=*}
  wine_run reg add 'HKCU\Software\Wine' /v Version /d "$name" /f >/dev/null 2>&1
  out=$work/version-$name.out
  TARVO_TEST_WINVER=${pair#*=} wine_run "$win_build/tarvo_tests.exe" --gtest_filter='WindowsVersionWin32.*' \
    >"$out" 2>&1
  if [ $? -eq 0 ] && unix_text "$out" | grep -q '^\[  PASSED  \] 1 test'; then
    pass "GetVersionExA as $name"
  else
    fail "GetVersionExA as $name" "$(unix_text "$out" | grep -A3 Failure | head -8)"
  fi
done
wine_run reg delete 'HKCU\Software\Wine' /v Version /f >/dev/null 2>&1

# The threads, COM port (with the modem on COM3), processes, probe and the upload workers again
# with the prefix acting as Windows 98 and as NT 4.0, where the program takes its pre-2000 paths
# (a few seconds each: the engine's and link's longer tests are not repeated). The device
# notifications as those versions need a display (their window is top-level there):
# run-win32-gui-tests.sh runs them.
old_windows_tests='Threads.*:SerialWin32*:ProcessWin32.*:ProcessChild.*:ProbeTest.*:UploadWorkersTest.*'
for name in win98 nt40; do
  wine_run reg add 'HKCU\Software\Wine' /v Version /d "$name" /f >/dev/null 2>&1
  out=$work/old-$name.out
  TARVO_TEST_PORT=COM3 wine_run "$win_build/tarvo_tests.exe" --gtest_filter="$old_windows_tests" >"$out" 2>&1
  status=$?
  if [ "$status" -eq 0 ] && unix_text "$out" | grep -q '^\[  PASSED  \]'; then
    pass "threads, COM port, processes, probe, upload workers as $name"
  else
    fail "threads, COM port, processes, probe, upload workers as $name" \
      "$(unix_text "$out" | grep -E '^\[  FAILED  \]|Failure' | head -8)"
  fi
done
wine_run reg delete 'HKCU\Software\Wine' /v Version /f >/dev/null 2>&1

# --- End to end: the command line of Tarvo32.exe against the Linux program's -------------------
start_modem COM4 --kernel || die "modemsim did not start"
start_modem COM6 --silent || die "modemsim did not start"
delivery=$work/delivery
cp "$win_build/Tarvo32.exe" "$win_build/Tarvo32.com" "$host_build/Tarvo32" "$delivery/"
printf '[INFO]\r\nModel_name=Nelta 56K USB\r\nFirmware_file=nelta.bin\r\nATI9_key_string=KOR\r\nATI1_key_string=Nelta 56K\r\n' \
  >"$delivery/Tarvo32.ini"
head -c 40000 /dev/urandom >"$delivery/nelta.bin"

# Runs the command on both programs; the outcome must be the same and as expected.
#   same_outcome NAME EXPECTED_STATUS EXPECTED_STDOUT ARGS...   (EXPECTED_STDOUT "-": any)
same_outcome() {
  local name=$1 want_status=$2 want_out=$3; shift 3
  local wout=$work/w.out werr=$work/w.err lout=$work/l.out lerr=$work/l.err
  wine_run "$delivery/Tarvo32.com" "$@" >"$wout" 2>"$werr"
  local wstatus=$?
  "$delivery/Tarvo32" "$@" >"$lout" 2>"$lerr"
  local lstatus=$?
  local wtext ltext
  wtext=$(host_paths_text "$wout")
  ltext=$(cat "$lout")
  if [ "$wstatus" != "$want_status" ] || [ "$lstatus" != "$want_status" ] || [ "$wtext" != "$ltext" ] ||
     { [ "$want_out" != - ] && [ "$wtext" != "$want_out" ]; }; then
    fail "$name" "Tarvo32.exe status $wstatus, stdout: $wtext" "stderr: $(unix_text "$werr" | tail -3)" \
         "Tarvo32 status $lstatus, stdout: $ltext" "expected status $want_status, stdout: $want_out"
  else
    pass "$name"
  fi
}

same_outcome "config" 0 - config
# Typed at a prompt in the delivery folder: the shell finds Tarvo32.com first for the bare name,
# and its lines and status reach the prompt (Tarvo32.exe is the windowed program).
(cd "$delivery" && wine_run cmd /c Tarvo32 config >"$work/cmd.out" 2>"$work/cmd.err")
cmd_status=$?
if [ "$cmd_status" = 0 ] && [ "$(host_paths_text "$work/cmd.out")" = "$(cat "$work/l.out")" ]; then
  pass "cmd /c Tarvo32 config in the delivery folder: the console companion's lines and status"
else
  fail "cmd /c Tarvo32 config in the delivery folder" "status $cmd_status, stdout: $(unix_text "$work/cmd.out")"
fi
same_outcome "config with an argument: bad usage" 2 "" config extra
same_outcome "probe COM3 COM4 5 COM6" 0 $'COM3 found normal 0x80000000\nCOM4 found kernel 0xC0000000\nCOM5 not-found\nCOM6 not-found' \
  probe COM3 4 5 COM6
same_outcome "probe COM7: no modem" 1 "COM7 not-found" probe COM7
same_outcome "probe LPT1: bad usage" 2 "" probe LPT1
same_outcome "upgrade without a port: bad usage" 2 "" upgrade

# The upgrade: the image arrives byte for byte through Wine's COM port.
start_modem COM5 --image-out "$work/received.bin" --image-size 40000 || die "modemsim did not start"
upgrade_start=$(date +%s%N)
wine_run "$delivery/Tarvo32.exe" upgrade COM5 >"$work/up.out" 2>"$work/up.err"
status=$?
upgrade_ms=$(( ($(date +%s%N) - upgrade_start) / 1000000 ))
if [ $status -eq 0 ] && [ "$(unix_text "$work/up.out" | tail -1)" = Succeeded ] &&
   cmp -s "$work/received.bin" "$delivery/nelta.bin"; then
  pass "upgrade COM5: 40000 bytes byte for byte in $upgrade_ms ms"
else
  fail "upgrade COM5" "status $status, stdout: $(unix_text "$work/up.out")" \
       "stderr: $(unix_text "$work/up.err" | tail -3)"
fi

# A modem pulled out mid-transfer: the run fails soon, it does not hang.
start_modem COM8 --pull-out-after 20 || die "modemsim did not start"
pulled_start=$(date +%s)
timeout 60 "$wine_program" "$delivery/Tarvo32.exe" upgrade COM8 >"$work/pull.out" 2>"$work/pull.err"
status=$?
pulled_seconds=$(( $(date +%s) - pulled_start ))
if [ $status -eq 1 ] && [ "$(unix_text "$work/pull.out" | tail -1)" = Failed ] && [ $pulled_seconds -lt 20 ]; then
  pass "upgrade COM8, modem pulled out: Failed after $pulled_seconds s"
else
  fail "upgrade COM8, modem pulled out" "status $status after $pulled_seconds s, stdout: $(unix_text "$work/pull.out")" \
       "stderr: $(unix_text "$work/pull.err" | tail -3)"
fi

# --- The production station without its window -------------------------------------------------
# Both programs upgrade the same modems in turn: a good one on COM2, the one from the logic tests
# on COM3 and a silent one on COM6. (A port with no entry at all reads "absent" on Windows, but
# Wine answers QueryDosDeviceA for every COM1..COM256, so under Wine such a port is tried and
# fails instead: it is left out here.)
start_modem COM2 --image-out "$work/received2.bin" --image-size 40000 || die "modemsim did not start"
# The results without the run's own times (each unit's start and end, its seconds) and progress.
result_lines() { sed -E 's/ start=[^ ]+ end=[^ ]+//'; }
json_results() { grep '"event":"result"' | sed -E 's/,"seconds":[0-9.]+//; s/,"(start|end)":"[^"]*"//g'; }
same_outcome_of() {
  local name=$1 filter=$2 want_status=$3 want_out=$4; shift 4
  local wout=$work/w.out lout=$work/l.out
  wine_run "$delivery/Tarvo32.exe" "$@" >"$wout" 2>"$work/w.err"
  local wstatus=$?
  "$delivery/Tarvo32" "$@" >"$lout" 2>"$work/l.err"
  local lstatus=$?
  local wtext ltext
  wtext=$(host_paths_text "$wout" | $filter)
  ltext=$($filter <"$lout")
  if [ "$wstatus" != "$want_status" ] || [ "$lstatus" != "$want_status" ] || [ "$wtext" != "$ltext" ] ||
     { [ "$want_out" != - ] && [ "$wtext" != "$want_out" ]; }; then
    fail "$name" "Tarvo32.exe status $wstatus, stdout: $wtext" "stderr: $(unix_text "$work/w.err" | tail -3)" \
         "Tarvo32 status $lstatus, stdout: $ltext" "expected status $want_status, stdout: $want_out"
  else
    pass "$name"
  fi
}
same_outcome_of "production COM2 3 COM6" result_lines 1 $'COM2 Succeeded 40000\nCOM3 Succeeded 40000\nCOM6 Failed' \
  production COM2 3 COM6
if cmp -s "$work/received2.bin" "$delivery/nelta.bin"; then
  pass "production COM2: the image byte for byte"
else
  fail "production COM2: the image arrived changed"
fi
same_outcome_of "production --json COM3 6" json_results 1 \
  '{"event":"result","port":"COM3","outcome":"Succeeded","sent":40000,"total":40000}
{"event":"result","port":"COM6","outcome":"Failed","sent":0,"total":0,"reason":"no answer to the probe (no modem, or it is switched off)"}' \
  production --json COM3 6
same_outcome "production COM9: bad usage" 2 "" production COM9

# --- The driver change against Wine's registry and Windows folder --------------------------------
# The same old driver on both: in the prefix's registry (regedit) and its C:\windows, and in the
# Linux program's registry.reg and $TARVO_HOST/windows. The lines are compared with each side's
# Windows and system folders and the delivery's place written alike.
drivers_delivery=$work/drivers
mkdir -p "$drivers_delivery"
cp "$win_build/Tarvo32.exe" "$host_build/Tarvo32" "$drivers_delivery/"
printf '[INFO]\r\nModel_name=Nelta 56K USB\r\nWindows_ChgDrv_and_Reboot=TRUE\r\nFirmware_to_CDC_protocol=FALSE\r\n' \
  >"$drivers_delivery/Tarvo32.ini"
put() { mkdir -p "$(dirname "$1")"; printf '%s' "$2" >"$1"; }
put "$drivers_delivery/Win98/DelFile/System/nlccport.sys" ""
put "$drivers_delivery/Win98/CopyFile/Win98/Inf/nlusbcdc.inf" "new inf"
put "$drivers_delivery/Win98/CopyFile/Win98/System/nlusbcdc.sys" "new sys"
put "$drivers_delivery/Win2k/DelFile/Sys32drv/NLUSBMDM.SYS" ""
put "$drivers_delivery/Win2k/CopyFile/Sys32drv/nlusbcdc.sys" "new sys"
printf '%s\r\n' 'REGEDIT4' '' \
  '[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall\NL773056KUSB]' \
  '"DEL_HKR_0000"="Enum\\USB\\VID_4E2C&PID_7A01"' '"DEL_INF_0000"="mdmx.inf"' '"DEL_SYS_0000"="nlusbmdm.sys"' '' \
  '[HKEY_LOCAL_MACHINE\Enum\USB\VID_4E2C&PID_7A01\5&1A2B&0&1]' '"Driver"="Modem\\0003"' '' \
  '[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\Class\Modem\0003]' '"DriverDesc"="USB Modem"' '' \
  '[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\Class\Modem\0000]' '"DriverDesc"="Another modem"' '' \
  >"$work/old-driver.reg"
win_windows=$WINEPREFIX/drive_c/windows
linux_windows=$TARVO_HOST/windows
wine_version() { wine_run reg add 'HKCU\Software\Wine' /v Version /d "$1" /f >/dev/null 2>&1; }
# The system folder: GetSystemDirectoryA gives system32 under Wine whatever version it acts as,
# where Windows 98 gives SYSTEM, the folder the delivery's 9x files go to by name. In the prefix
# the files lie where each is looked for; both folders read as <SYS>.
wine_system=system32
# Lines with the Windows folder as <WIN>, the system folder as <SYS>, the delivery as <DELIVERY>,
# without regard to case (Windows matches names so; the sides spell folders differently).
drivers_text() {
  tr -d '\r' | sed -E '/[A-Za-z]:\\/ s/\\/\//g' | tr 'A-Z' 'a-z' |
    sed -E -e "s#c:/windows/$wine_system#<sys>#g; s#c:/windows/system/#<sys>/#g; s#c:/windows#<win>#g" \
           -e "s#z:/#/#g" \
           -e "s#${linux_windows,,}/system32#<sys>#g; s#${linux_windows,,}/system#<sys>#g" \
           -e "s#${linux_windows,,}#<win>#g; s#${drivers_delivery,,}#<delivery>#g"
}
drivers_outcome() {
  local name=$1 winver=$2 want_out=$3; shift 3
  local wout=$work/dw.out lout=$work/dl.out
  wine_version "$winver"
  (cd "$drivers_delivery" && wine_run "$drivers_delivery/Tarvo32.exe" drivers "$@" >"$wout" 2>"$work/dw.err")
  local wstatus=$?
  TARVO_WINVER=$winver "$drivers_delivery/Tarvo32" drivers "$@" >"$lout" 2>"$work/dl.err"
  local lstatus=$?
  local wtext ltext
  wtext=$(drivers_text <"$wout")
  ltext=$(drivers_text <"$lout")
  if [ "$wstatus" != 0 ] || [ "$lstatus" != 0 ] || [ "$wtext" != "$ltext" ] || [ "$wtext" != "$want_out" ]; then
    fail "$name" "Tarvo32.exe status $wstatus, stdout: $wtext" "stderr: $(unix_text "$work/dw.err" | tail -3)" \
         "Tarvo32 status $lstatus, stdout: $ltext" "stderr: $(tail -3 "$work/dl.err")" "expected: $want_out"
  else
    pass "$name"
  fi
}

# Windows 98: the uninstall key's lists, the old files, the new ones.
wine_run regedit /S "$work/old-driver.reg" >/dev/null 2>&1
cp "$work/old-driver.reg" "$TARVO_HOST/registry.reg"
for side in "$win_windows/inf" "$linux_windows/INF"; do
  put "$side/mdmx.inf" old
  put "$side/other/Vendormdmx.inf" old
done
put "$win_windows/$wine_system/NLUSBMDM.SYS" old
put "$win_windows/system/nlccport.sys" old
put "$linux_windows/SYSTEM/NLUSBMDM.SYS" old
put "$linux_windows/SYSTEM/nlccport.sys" old
drivers98=$'deleted key hkey_local_machine\\system\\currentcontrolset\\services\\class\\modem\\0003
deleted key hkey_local_machine\\enum\\usb\\vid_4e2c&pid_7a01\\5&1a2b&0&1
deleted key hkey_local_machine\\enum\\usb\\vid_4e2c&pid_7a01
deleted file <win>/inf/mdmx.inf
deleted file <win>/inf/other/vendormdmx.inf
deleted file <sys>/nlusbmdm.sys
deleted key hkey_local_machine\\software\\microsoft\\windows\\currentversion\\uninstall\\nl773056kusb
deleted file <sys>/nlccport.sys
copied <delivery>/win98/copyfile/win98/inf/nlusbcdc.inf -> <win>/inf/nlusbcdc.inf
copied <delivery>/win98/copyfile/win98/system/nlusbcdc.sys -> <sys>/nlusbcdc.sys'
drivers_outcome "drivers --dry-run as win98" win98 "$drivers98" --dry-run
if [ -f "$win_windows/inf/mdmx.inf" ] && [ ! -e "$win_windows/inf/nlusbcdc.inf" ] &&
   wine_run reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\NL773056KUSB' >/dev/null 2>&1; then
  pass "drivers --dry-run changed nothing in the prefix"
else
  fail "drivers --dry-run changed the prefix"
fi
drivers_outcome "drivers as win98" win98 "$drivers98"
if ! wine_run reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\NL773056KUSB' >/dev/null 2>&1 &&
   ! wine_run reg query 'HKLM\Enum\USB\VID_4E2C&PID_7A01' >/dev/null 2>&1 &&
   wine_run reg query 'HKLM\System\CurrentControlSet\Services\Class\Modem\0000' >/dev/null 2>&1 &&
   [ "$(cat "$win_windows/system/nlusbcdc.sys" 2>/dev/null)" = "new sys" ] &&
   [ ! -e "$win_windows/inf/mdmx.inf" ]; then
  pass "drivers as win98: the prefix's registry and Windows folder changed as printed"
else
  fail "drivers as win98: the prefix's registry or Windows folder is not as printed"
fi
drivers_outcome "drivers as win98 again: only the copies" win98 "copied ${drivers98#*$'\n'copied }"

# Windows 2000: no registry change; oem*.inf naming the modem goes with its .PNF.
for side in "$win_windows/inf" "$linux_windows/INF"; do
  put "$side/oem4.inf" $'[Models]\r\n%M%=M,USB\\VID_4E2C&PID_7A01\r\n'
  put "$side/oem4.PNF" pnf
  put "$side/oem7.inf" $'[Models]\r\n%M%=M,USB\\VID_1234&PID_0001\r\n'
done
put "$win_windows/system32/drivers/nlusbmdm.sys" old
put "$linux_windows/SYSTEM32/drivers/nlusbmdm.sys" old
drivers_outcome "drivers as win2k" win2k $'deleted file <win>/inf/oem4.inf
deleted file <win>/inf/oem4.pnf
deleted file <sys>/drivers/nlusbmdm.sys
copied <delivery>/win2k/copyfile/sys32drv/nlusbcdc.sys -> <sys>/drivers/nlusbcdc.sys'
if [ -e "$win_windows/inf/oem7.inf" ] && [ ! -e "$win_windows/inf/oem4.inf" ]; then
  pass "drivers as win2k: other vendors' oem*.inf stay"
else
  fail "drivers as win2k: the prefix's inf folder is not as printed"
fi
wine_run reg delete 'HKCU\Software\Wine' /v Version /f >/dev/null 2>&1

finished=$(date +%s)
echo "timings: builds $((built - started)) s, fresh prefix $prefix_seconds s," \
     "tests under Wine $((finished - built)) s, all $((finished - started)) s ($arch)"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
