#!/usr/bin/env bash
# The Windows build's windows under Wine: builds the Win32 window backend's tests
# (tarvo_win32ui_tests.exe) and the program with its click driver (wizard-driver/Tarvo32.exe),
# then inside one virtual display (xvfb-run: Wine needs one to make windows) and a fresh Wine
# prefix of its own
#   - runs the backend's tests, the window backends' shared contract among them, and the device
#     notification tests of tarvo_tests.exe with the prefix acting as Windows 98 and NT 4.0;
#   - runs the wizard of a delivery against tools/modemsim on a pseudo-terminal linked as the
#     prefix's COM3, clicked through by the driver: the upgrade must complete, the program end
#     with status 0 and the modem hold the image byte for byte; then Cancel on the search page
#     must end it with status 1; then, with the prefix acting as Windows 98 and holding an old
#     driver, the wizard again through the driver page: the upgrade completes, the old driver's
#     keys and files are gone, the new files are in place, and "No" to the restart ends it with 0;
#   - runs the production-line dialog of the same delivery (For_internal_production=TRUE) with a
#     simulated modem on COM5: started by its default button, it must upgrade that modem and
#     close by "Exit when appropriate" once no upload runs.
# TARVO_SCREENSHOT_DIR (a folder) keeps the pictures the driver took, as PNG when ImageMagick is
# there.
# Ends with "N passed, N failed" and a non-zero status when anything failed.
# TARVO_WIN32_ARCH=i686 or x86_64 chooses the build (default: the shipping 32-bit one where the
# kernel runs 32-bit programs, else x86_64); TARVO_JOBS the parallel jobs of the builds (2).
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
started=$(date +%s)
jobs=${TARVO_JOBS:-2}

die() { echo "run-win32-gui-tests: $*" >&2; echo "0 passed, 1 failed"; exit 1; }

# Inside the display: the tests themselves.
if [ "${1:-}" != --inside-display ]; then
  "$top/scripts/install-win32-deps.sh" || die "the Windows toolchain, Wine or Xvfb is missing"
  . "$top/scripts/wine-env.sh"
  wine_pick_arch
  TARVO_JOBS=$jobs "$top/scripts/build-win32.sh" "$arch" tarvo_win32ui_tests tarvo32_wizard_driver tarvo_tests ||
    die "the Windows build failed"
  host_build=$top/build-win32-host
  { cmake -S "$top" -B "$host_build" -DCMAKE_BUILD_TYPE=Release -DTARVO_WITH_QT=OFF -DTARVO_TESTS=OFF \
          -DTARVO_BENCH=OFF >/dev/null &&
    cmake --build "$host_build" -j"$jobs" --target modemsim >/dev/null; } || die "the Linux build of modemsim failed"
  export TARVO_GUI_BUILT=$(( $(date +%s) - started ))
  exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" --inside-display
fi

. "$top/scripts/wine-env.sh"
wine_pick_arch
host_build=$top/build-win32-host
work=$(mktemp -d /tmp/tarvo-wine-gui-XXXXXX)
export TARVO_HOST=$work/host
mkdir -p "$TARVO_HOST/ports"
cleanup() { wine_stop; rm -rf "$work"; }
trap cleanup EXIT

passed=0
failed=0
pass() { passed=$((passed + 1)); echo "PASS $1"; }
fail() { failed=$((failed + 1)); echo "FAIL $1"; shift; for line in "$@"; do echo "     $line"; done; }
unix_text() { tr -d '\r' < "$1"; }

prefix_start=$(date +%s)
wine_make_prefix "$work" || die "no Wine prefix without the host's COM ports could be made in $work"
# No window manager runs on the virtual display: Wine draws the title bars itself.
wine_run reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
prefix_seconds=$(( $(date +%s) - prefix_start ))

# --- The backend's tests -----------------------------------------------------------------------
tests_out=$work/tests.out
timeout 300 "$wine_program" "$win_build/tarvo_win32ui_tests.exe" >"$tests_out" 2>&1
tests_status=$?
wine_gtest_outcome tarvo_win32ui_tests.exe "$tests_out" "$tests_status"

# Device notifications with the prefix acting as Windows 98 and as NT 4.0: the listener's window
# is a hidden top-level one there (message-only windows are Windows 2000's), which needs this
# display.
for name in win98 nt40; do
  wine_run reg add 'HKCU\Software\Wine' /v Version /d "$name" /f >/dev/null 2>&1
  out=$work/notify-$name.out
  timeout 120 "$wine_program" "$win_build/tarvo_tests.exe" --gtest_filter='DeviceNotifyWin32*' >"$out" 2>&1
  status=$?
  if [ "$status" -eq 0 ] && unix_text "$out" | grep -q '^\[  PASSED  \]'; then
    pass "device notifications as $name: the hidden top-level window gets the device-change message"
  else
    fail "device notifications as $name" "$(unix_text "$out" | grep -E -A2 '^\[  FAILED  \]|Failure' | head -8)"
  fi
done
wine_run reg delete 'HKCU\Software\Wine' /v Version /f >/dev/null 2>&1

# --- The wizard clicked through, against a simulated modem on COM3 -----------------------------
delivery=$work/delivery
shots=$work/shots
mkdir -p "$delivery" "$shots"
cp "$win_build/wizard-driver/Tarvo32.exe" "$delivery/"
printf '[INFO]\r\nCompany_name=Nelta Technology Corporation\r\nCompany_short_name=Nelta\r\nModel_name=Nelta 56K USB Modem\r\nFirmware_file=image.bin\r\nFirmware_version=1.20\r\nATI1_key_string=Nelta 56K USB\r\nATI9_key_string=KOR\r\n' \
  >"$delivery/Tarvo32.ini"
image_size=30000
head -c $image_size /dev/urandom >"$delivery/image.bin"
wine_start_modem COM3 --image-out "$work/received.bin" --image-size $image_size || die "modemsim did not start"
wine_host_ports_blocked || die "a COM port of the Wine prefix leads to a device of this machine"
wizard_start=$(date +%s)
TARVO_SCREENSHOT_DIR=$(wine_path "$shots") \
  timeout 180 "$wine_program" "$delivery/Tarvo32.exe" >"$work/wizard.out" 2>"$work/wizard.err"
status=$?
wizard_seconds=$(( $(date +%s) - wizard_start ))
pages=$(ls "$shots"/page*.bmp 2>/dev/null | wc -l)
if [ $status -eq 0 ] && cmp -s "$work/received.bin" "$delivery/image.bin"; then
  pass "the wizard clicked through on COM3: $image_size bytes byte for byte in $wizard_seconds s, $pages pages seen"
else
  fail "the wizard clicked through on COM3" "status $status after $wizard_seconds s, pages seen: $pages" \
       "stderr: $(unix_text "$work/wizard.err" | tail -3)" \
       "received: $(stat -c %s "$work/received.bin" 2>/dev/null || echo nothing) bytes"
fi

# Cancel on the search page, with the modem found there: the wizard ends at once with status 1
# and sends nothing.
cancel_start=$(date +%s)
rm -f "$work/received.bin"
TARVO_SCREENSHOT_DIR= TARVO_DRIVER_CANCEL_ON_PAGE=2 timeout 120 "$wine_program" "$delivery/Tarvo32.exe" >"$work/cancel.out" 2>"$work/cancel.err"
status=$?
cancel_seconds=$(( $(date +%s) - cancel_start ))
if [ $status -eq 1 ] && [ ! -s "$work/received.bin" ]; then
  pass "Cancel on the search page: status 1 after $cancel_seconds s, nothing sent"
else
  fail "Cancel on the search page" "status $status after $cancel_seconds s" \
       "stderr: $(unix_text "$work/cancel.err" | tail -3)"
fi

# --- The driver page as Windows 98 sees it: after the upload, the old driver out, the new in ------
# The prefix acts as Windows 98 and holds an old driver (registry and C:\windows); the delivery
# asks for the driver change. The upload page goes on to the driver page by itself once the
# removal prompt is answered; the driver answers the restart question "No" (1105), since a restart
# would end the Wine session, and presses Finish.
delivery98=$work/delivery98
shots98=$work/shots98
mkdir -p "$delivery98" "$shots98"
cp "$win_build/wizard-driver/Tarvo32.exe" "$delivery/image.bin" "$delivery98/"
{ unix_text "$delivery/Tarvo32.ini" | sed 's/$/\r/'
  printf 'Windows_ChgDrv_and_Reboot=TRUE\r\nFirmware_to_CDC_protocol=FALSE\r\n'; } >"$delivery98/Tarvo32.ini"
put() { mkdir -p "$(dirname "$1")"; printf '%s' "$2" >"$1"; }
put "$delivery98/Win98/DelFile/System/nlccport.sys" ""
put "$delivery98/Win98/CopyFile/Win98/Inf/nlusbcdc.inf" "new inf"
put "$delivery98/Win98/CopyFile/Win98/System/nlusbcdc.sys" "new sys"
printf '%s\r\n' 'REGEDIT4' '' \
  '[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall\NL773056KUSB]' \
  '"DEL_HKR_0000"="Enum\\USB\\VID_4E2C&PID_7A01"' '"DEL_INF_0000"="mdmx.inf"' '"DEL_SYS_0000"="nlusbmdm.sys"' '' \
  '[HKEY_LOCAL_MACHINE\Enum\USB\VID_4E2C&PID_7A01\5&1A2B&0&1]' '"Driver"="Modem\\0003"' '' \
  '[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\Class\Modem\0003]' '"DriverDesc"="USB Modem"' '' \
  >"$work/old-driver.reg"
wine_run regedit /S "$work/old-driver.reg" >/dev/null 2>&1
win_windows=$WINEPREFIX/drive_c/windows
put "$win_windows/inf/mdmx.inf" old
put "$win_windows/system/nlccport.sys" old
wine_run reg add 'HKCU\Software\Wine' /v Version /d win98 /f >/dev/null 2>&1
rm -f "$work/received.bin"
wine_host_ports_blocked || die "a COM port of the Wine prefix leads to a device of this machine"
driver_page_id=1105
page98_start=$(date +%s)
TARVO_SCREENSHOT_DIR=$(wine_path "$shots98") TARVO_DRIVER_CLICK=$driver_page_id \
  timeout 240 "$wine_program" "$delivery98/Tarvo32.exe" >"$work/page98.out" 2>"$work/page98.err"
status=$?
page98_seconds=$(( $(date +%s) - page98_start ))
wine_run reg delete 'HKCU\Software\Wine' /v Version /f >/dev/null 2>&1
pages98=$(ls "$shots98"/page*.bmp 2>/dev/null | wc -l)
if [ $status -eq 0 ] && cmp -s "$work/received.bin" "$delivery98/image.bin" && [ "$pages98" -ge 5 ] &&
   ! wine_run reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\NL773056KUSB' >/dev/null 2>&1 &&
   ! wine_run reg query 'HKLM\Enum\USB\VID_4E2C&PID_7A01' >/dev/null 2>&1 &&
   [ ! -e "$win_windows/inf/mdmx.inf" ] && [ ! -e "$win_windows/system/nlccport.sys" ] &&
   [ "$(cat "$win_windows/inf/nlusbcdc.inf" 2>/dev/null)" = "new inf" ] &&
   [ "$(cat "$win_windows/system/nlusbcdc.sys" 2>/dev/null)" = "new sys" ]; then
  pass "the wizard as Windows 98: upgraded on COM3, the driver page changed the driver, no restart, in $page98_seconds s"
else
  fail "the wizard as Windows 98 with the driver page" "status $status after $page98_seconds s, pages seen: $pages98" \
       "stderr: $(unix_text "$work/page98.err" | tail -3)" \
       "received: $(stat -c %s "$work/received.bin" 2>/dev/null || echo nothing) bytes" \
       "windows folder: $(cd "$win_windows" && ls inf/mdmx.inf inf/nlusbcdc.inf system/nlccport.sys system/nlusbcdc.sys 2>&1 | tr '\n' ' ')"
fi
for picture in "$shots98"/page5.bmp; do
  [ -e "$picture" ] && cp "$picture" "$shots/page5.bmp"
done

# --- The production-line dialog: started by its default button, left by "Exit when appropriate" --
# With the prefix acting as Windows NT 4.0: the pre-2000 NT paths (the wizard ran as 98 above).
wine_start_modem COM5 --image-out "$work/station.bin" --image-size $image_size || die "modemsim did not start"
printf 'For_internal_production=TRUE\r\n' >>"$delivery/Tarvo32.ini"
wine_host_ports_blocked || die "a COM port of the Wine prefix leads to a device of this machine"
wine_run reg add 'HKCU\Software\Wine' /v Version /d nt40 /f >/dev/null 2>&1
station_start=$(date +%s)
TARVO_SCREENSHOT_DIR=$(wine_path "$shots") \
  timeout 180 "$wine_program" "$delivery/Tarvo32.exe" >"$work/station.out" 2>"$work/station.err"
status=$?
station_seconds=$(( $(date +%s) - station_start ))
wine_run reg delete 'HKCU\Software\Wine' /v Version /f >/dev/null 2>&1
if [ $status -eq 0 ] && cmp -s "$work/station.bin" "$delivery/image.bin" && ls "$shots"/dialog*-running.bmp >/dev/null 2>&1; then
  pass "the production dialog as NT 4.0 upgraded the modem on COM5 and closed when idle, in $station_seconds s"
else
  fail "the production dialog on COM5" "status $status after $station_seconds s" \
       "stderr: $(unix_text "$work/station.err" | tail -3)" \
       "received: $(stat -c %s "$work/station.bin" 2>/dev/null || echo nothing) bytes"
fi

if [ -n "${TARVO_SCREENSHOT_DIR:-}" ]; then
  mkdir -p "$TARVO_SCREENSHOT_DIR"
  for picture in "$shots"/*.bmp; do
    [ -e "$picture" ] || continue
    name=$(basename "$picture" .bmp)
    if convert -version 2>/dev/null | grep -q ImageMagick; then
      convert "$picture" "$TARVO_SCREENSHOT_DIR/win32-$name.png"
    else
      cp "$picture" "$TARVO_SCREENSHOT_DIR/win32-$name.bmp"
    fi
  done
fi

finished=$(date +%s)
echo "timings: builds ${TARVO_GUI_BUILT:-0} s, fresh prefix $prefix_seconds s," \
     "under Wine $((finished - started - prefix_seconds)) s ($arch)"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
