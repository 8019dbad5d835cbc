#!/usr/bin/env bash
# The wine scenarios, run by the guest's /init in a chroot on the host's root (vm/wine/init.sh):
# udevd, the prefix's wine services, then the cross-built zrv-cli.exe and zrv-pc.exe against
# zrv-uhid-driver on the guest's uhid/hidraw. Each scenario is judged by exit statuses, output texts
# and the driver's --record file (every output report it received), and prints
#   WINETEST CASE <name>: PASS|FAIL (<seconds> s) ...
# then one line WINETEST RESULT: PASS|FAIL n/m.
set -u
# shellcheck disable=SC1091  # written by run-vm-wine-test.sh into the initramfs
source /run/zrv-wine.env
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
export HOME=/root LANG=C.UTF-8
export WINEPREFIX=$ZRV_WINEPREFIX WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINEPATH="${ZRV_DLL_DIRS//:/;}"
unset DISPLAY WAYLAND_DISPLAY
cli_exe=$ZRV_WIN_BUILD/apps/zrv-cli/zrv-cli.exe
window_exe=$ZRV_WIN_BUILD/apps/zrv-pc/zrv-pc.exe
scratch=/tmp/zrv-wine
mkdir -p "$scratch"

now_ms() { echo $(($(date +%s%N) / 1000000)); }
uptime_s() { cut -d' ' -f1 /proc/uptime; }
note() { echo "WINETEST $*"; }
why() { echo "    $*"; }

# --- the virtual driver --------------------------------------------------------------------------
driver_pid=""
record=""
# start_driver NAME [OPTIONS...]: a fresh driver recording into $scratch/NAME.rec; waits until
# udev has handled its hidraw node (udevadm settle refuses to run in a chroot).
start_driver() {
  local name=$1 i
  shift
  stop_driver
  record=$scratch/$name.rec
  rm -f "$record"
  "$ZRV_DRIVER" --record "$record" "$@" 2>>"$scratch/driver.log" &
  driver_pid=$!
  for i in $(seq 1 100); do
    if hidraw_of_driver >/dev/null; then return 0; fi
    sleep 0.1
  done
  why "the driver's hidraw node never appeared"
  return 1
}
stop_driver() {
  if [ -n "$driver_pid" ]; then
    kill -TERM "$driver_pid" 2>/dev/null
    wait "$driver_pid" 2>/dev/null
    driver_pid=""
  fi
}
# The hidraw node udev has seen for the driver: its database entry exists once the rules ran.
hidraw_of_driver() {
  local node
  for node in /sys/class/hidraw/hidraw*; do
    [ -e "$node" ] || continue
    grep -q '^HID_NAME=ZRVXXX$' "$node/device/uevent" 2>/dev/null || continue
    [ -e "/run/udev/data/c$(cat "$node/dev")" ] || continue
    echo "/dev/$(basename "$node")"
    return 0
  done
  return 1
}
# The command codes the driver received, in order, as two hex digits each.
recorded_codes() { awk '$1 == "OUT" {print substr($3, 3, 2)}' "$record" 2>/dev/null; }
count_code() { recorded_codes | grep -c "^$1\$"; }

# --- wine ------------------------------------------------------------------------------------------
# cli NAME ARGS...: zrv-cli.exe with its output in $scratch/NAME.out and .err; returns its status.
cli() {
  local name=$1
  shift
  timeout -k 5 120 wine "$cli_exe" "$@" </dev/null >"$scratch/$name.out" 2>"$scratch/$name.err"
  local status=$?
  # A Windows program ends its lines with CR LF.
  sed -i 's/\r$//' "$scratch/$name.out" "$scratch/$name.err"
  return $status
}
show() { sed 's/^/    | /' "$scratch/$1.out" "$scratch/$1.err" | head -n "${2:-12}"; }
# Waits until zrv-cli.exe lists the driver by its product string (wine's HID bus picks it up from
# udev a moment after the kernel), at most $1 seconds.
wait_listed() {
  local limit=$1 t0=$SECONDS
  while [ $((SECONDS - t0)) -lt "$limit" ]; do
    if cli list list --json && grep -q '"product":"ZRVXXX"' "$scratch/list.out" &&
      grep -q '"driver":true' "$scratch/list.out"; then
      note "FIGURE driver listed by zrv-cli.exe after $((SECONDS - t0)) s"
      return 0
    fi
    sleep 1
  done
  why "zrv-cli.exe never listed the driver \"ZRVXXX\" within $limit s; its last list:"
  show list
  return 1
}

# --- scenarios ---------------------------------------------------------------------------------------
# Our Win32 backend alone (vm/wine/backend_check.cpp). backend_run MODE DRIVER-OPTIONS...: the
# program in that mode beside a fresh driver, which is unplugged and replugged when it asks.
backend_run() {
  local mode=$1 pid i status
  shift
  start_driver "backend-$mode" "$@" || return 1
  timeout -k 5 150 wine "$ZRV_BACKEND_EXE" "$mode" </dev/null >"$scratch/backend.out" 2>"$scratch/backend.err" &
  pid=$!
  for step in "unplug now" "replug now"; do
    for i in $(seq 1 900); do
      grep -q "^$step" "$scratch/backend.out" && break
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    grep -q "^$step" "$scratch/backend.out" || break
    kill -USR1 "$driver_pid"
  done
  wait "$pid"
  status=$?
  sed -i 's/\r$//' "$scratch/backend.out"
  show backend 20
  note "FIGURE reports the driver received: $(awk '$1 == "OUT" {printf "%s bytes %s, ", $2, substr($3, 1, 4)}' "$record")"
  [ "$status" -eq 0 ] || { why "zrv-wine-backend.exe $mode ended with $status"; return 1; }
}
backend() {
  backend_run plain || return 1
  [ "$(awk '$1 == "OUT" {print $2 " " substr($3, 1, 4)}' "$record")" = "64 010a" ] ||
    { why "the driver did not receive exactly one whole command 10"; return 1; }
}
backend_unnumbered() { backend_run unnumbered --no-report-ids; }
backend_short() {
  backend_run short --short-replies 20 --short-code 11 || return 1
  [ "$(recorded_codes | tr '\n' ' ')" = "0b 0a " ] || { why "the driver did not receive 11 then 10"; return 1; }
}
backend_delay() { backend_run delay --reply-delay 400; }

# zrv-cli.exe on one driver: list, info, status --watch, registers, modbus set with its read-back.
cli_list() {
  start_driver cli || return 1
  wait_listed 60 || return 1
  cli list-text list || { why "list failed"; show list-text; return 1; }
  show list-text 8
  grep -q 'yes  *rw  *ZRVXXX' "$scratch/list-text.out" || { why "ZRVXXX not listed as a driver with read/write access"; return 1; }
}
cli_info() {
  cli info info || { why "info exit status $?"; show info; return 1; }
  show info 10
  grep -q '^firmware version:  1.25$' "$scratch/info.out" && grep -q '^hardware version:  1.03$' "$scratch/info.out" &&
    grep -q '^modbus:            slave id 1, 19200 baud' "$scratch/info.out" ||
    { why "not the virtual driver's identity"; return 1; }
  [ "$(recorded_codes | tail -n 1)" = 0a ] || { why "the driver's last command was not 10"; return 1; }
}
cli_status_watch() {
  local before after lines
  before=$(count_code 0b)
  cli watch status --watch --count 25 --interval 40 --json || { why "status --watch exit status $?"; show watch; return 1; }
  head -n 2 "$scratch/watch.out" | sed 's/^/    | /'
  lines=$(grep -c '"supply_mv":' "$scratch/watch.out")
  after=$(count_code 0b)
  note "FIGURE status --watch --count 25 --interval 40: $lines status lines, $((after - before)) commands 11 received by the driver"
  [ "$lines" -eq 25 ] || { why "$lines status lines, not 25"; return 1; }
  [ $((after - before)) -ge 25 ] || { why "the driver received $((after - before)) commands 11 for 25 lines"; return 1; }
}
cli_registers() {
  cli registers registers --json || { why "registers exit status $?"; show registers; return 1; }
  head -c 300 "$scratch/registers.out" | sed 's/^/    | /'
  echo
  grep -q '"good_frames":' "$scratch/registers.out" && grep -q '"registers":' "$scratch/registers.out" ||
    { why "no register preview in the output"; return 1; }
  [ "$(recorded_codes | tail -n 1)" = 0c ] || { why "the driver's last command was not 12"; return 1; }
}
cli_modbus_set() {
  local n0 codes report
  n0=$(recorded_codes | wc -l)
  cli set modbus set --slave-id 17 --baud 38400 --parity odd || { why "modbus set exit status $?"; show set; return 1; }
  show set 4
  sleep 0.3  # the driver writes its record after answering
  codes=$(recorded_codes | tail -n +$((n0 + 1)) | tr '\n' ' ')
  [ "$codes" = "14 94 14 " ] || { why "commands received for modbus set: $codes(expected 14 94 14)"; return 1; }
  # 148: baud 38400 LE, parity 1 (odd), slave 17, the rest zero; wine counts the write one byte
  # short, the driver must still get all 64 bytes.
  report=$(awk '$1 == "OUT" {l = $2 " " $3} END {print l}' <(grep ' 0194' "$record"))
  [ "$report" = "64 0194009600000111$(printf '0%.0s' $(seq 1 112))" ] || { why "148 as received: $report"; return 1; }
  cli get modbus get --json || { why "modbus get exit status $?"; return 1; }
  [ "$(cat "$scratch/get.out")" = '{"baud":38400,"parity":"odd","slave_id":17}' ] ||
    { why "read back: $(cat "$scratch/get.out")"; return 1; }
}

# The CLI's driver goes while it watches: exit status 2; the replugged driver answers again.
cli_unplug() {
  local pid i status
  start_driver unplug || return 1
  wait_listed 60 || return 1
  timeout -k 5 120 wine "$cli_exe" status --watch --json </dev/null >"$scratch/unplug.out" 2>"$scratch/unplug.err" &
  pid=$!
  for i in $(seq 1 300); do
    [ "$(grep -c supply_mv "$scratch/unplug.out")" -ge 5 ] && break
    sleep 0.1
  done
  [ "$(grep -c supply_mv "$scratch/unplug.out")" -ge 5 ] || { why "status --watch printed nothing"; show unplug; kill "$pid"; return 1; }
  kill -USR1 "$driver_pid"
  wait "$pid"
  status=$?
  sed -i 's/\r$//' "$scratch/unplug.err"
  note "FIGURE status --watch printed $(grep -c supply_mv "$scratch/unplug.out") lines before the unplug ended it"
  tail -n 1 "$scratch/unplug.err" | sed 's/^/    | /'
  [ "$status" -eq 2 ] || { why "status --watch ended with $status, not 2"; return 1; }
  kill -USR1 "$driver_pid"
  wait_listed 60 || return 1
  cli replugged info || { why "info after the replug: exit status $?"; return 1; }
}

# The driver's fault options, as the Linux VM scenarios use them.
no_report_ids() {
  start_driver unnumbered --no-report-ids || return 1
  wait_listed 60 || return 1
  cli unnumbered-info info --json || { why "info exit status $?"; show unnumbered-info; return 1; }
  grep -q '"firmware_version":1.25' "$scratch/unnumbered-info.out" || { why "identity not decoded"; show unnumbered-info; return 1; }
  cli unnumbered-status status --json || { why "status exit status $?"; show unnumbered-status; return 1; }
  grep -q '"supply_mv":' "$scratch/unnumbered-status.out" || { why "status not decoded"; return 1; }
  note "FIGURE without report IDs the driver got reports of $(awk '$1 == "OUT" {print $2}' "$record" | sort -u | tr '\n' ' ')bytes"
}
short_replies() {
  start_driver short --short-replies 20 --short-code 11 || return 1
  wait_listed 60 || return 1
  cli short-info info || { why "info (whole replies) exit status $?"; show short-info; return 1; }
  cli short-status status --timeout 500
  local status=$?
  tail -n 1 "$scratch/short-status.err" | sed 's/^/    | /'
  # The kernel drops an input report shorter than declared: no answer.
  [ "$status" -eq 5 ] || { why "status with 20-byte replies ended with $status, not 5"; return 1; }
  [ "$(recorded_codes | tail -n 1)" = 0b ] || { why "the driver never got the status request"; return 1; }
}
reply_delay() {
  start_driver delay --reply-delay 400 || return 1
  wait_listed 60 || return 1
  cli delay-info info || { why "info with 400 ms replies exit status $?"; show delay-info; return 1; }
  cli delay-short info --timeout 100
  local status=$?
  [ "$status" -eq 5 ] || { why "info --timeout 100 with 400 ms replies ended with $status, not 5"; return 1; }
}

# --- the window ------------------------------------------------------------------------------------
# zrv-pc.exe on a virtual X server (wine's X11 driver, Qt's Windows platform plugin). Its connection
# field is read from screenshots by its colour; what it sends is read from the driver's record.
display=:7
xvfb_pid=""
window_pid=""
origin_x=0
origin_y=0
# Sets field to connected, not-connected or unknown; a found field also sets the window's client
# origin (the field's background starts 124, 8 px into the client area). Not run in a subshell,
# or the origin would be lost with it.
field=unknown
field_state() {
  field=unknown
  DISPLAY=$display import -window root -depth 8 "ppm:$scratch/screen.ppm" 2>/dev/null || return 0
  local state x y
  read -r state x y < <(python3 "$ZRV_ROOT/vm/wine/field_colour.py" "$scratch/screen.ppm")
  if [ "$state" != unknown ]; then
    origin_x=$((x - 124))
    origin_y=$((y - 8))
  fi
  field=$state
}
wait_field() {  # wait_field STATE SECONDS
  local t0=$SECONDS state=""
  while [ $((SECONDS - t0)) -lt "$2" ]; do
    field_state
    state=$field
    [ "$state" = "$1" ] && return 0
    sleep 0.5
  done
  why "the connection field did not become $1 within $2 s (last: $state)"
  return 1
}
wait_count() {  # wait_count CODE AT-LEAST SECONDS
  local t0=$SECONDS
  while [ $((SECONDS - t0)) -lt "$3" ]; do
    [ "$(count_code "$1")" -ge "$2" ] && return 0
    sleep 0.2
  done
  why "the driver received $(count_code "$1") commands 0x$1 within $3 s, expected $2"
  return 1
}
# A screenshot for the one who reads a failure: on the console as one line of base64, which
# run-vm-wine-test.sh writes out as a PNG beside the console log. With the X windows' geometry.
shot() {  # shot NAME
  DISPLAY=$display import -window root "png:$scratch/shot.png" 2>/dev/null || return 0
  echo "WINESHOT $1 $(base64 -w0 "$scratch/shot.png")"
  DISPLAY=$display xwininfo -root -tree 2>/dev/null | grep -E '[0-9]+x[0-9]+\+' | sed 's/^/    x: /' | head -n 12
}
click() { DISPLAY=$display xdotool mousemove $((origin_x + $1)) $((origin_y + $2)) click 1; }
# Polls counted over a known time: the driver's record grows by one line a request.
poll_rate() {  # poll_rate CODE SECONDS: prints requests per second, times 10
  local c0 c1 t0 t1
  c0=$(count_code "$1")
  t0=$(now_ms)
  sleep "$2"
  c1=$(count_code "$1")
  t1=$(now_ms)
  echo $(((c1 - c0) * 10000 / (t1 - t0)))
}
window_polls() {
  local t0 rate
  start_driver window || return 1
  wait_listed 60 || return 1
  Xvfb "$display" -screen 0 800x600x24 -nolisten tcp >"$scratch/xvfb.log" 2>&1 &
  xvfb_pid=$!
  sleep 1
  t0=$SECONDS
  DISPLAY=$display WINEQT_FORCE_STDERR_LOGGING=1 wine "$window_exe" </dev/null >"$scratch/window.out" 2>"$scratch/window.err" &
  window_pid=$!
  wait_count 0b 3 120 || { show window 20; return 1; }
  note "FIGURE zrv-pc.exe polling $((SECONDS - t0)) s after its start"
  [ "$(recorded_codes | head -n 1)" = 0a ] || { why "the first command was $(recorded_codes | head -n 1), not 10"; return 1; }
  wait_field connected 20 || return 1
  note "FIGURE window's client area at $origin_x,$origin_y"
  rate=$(poll_rate 0b 10)
  note "FIGURE window polls (command 11): $((rate / 10)).$((rate % 10)) per second over 10 s"
  # One request a 40 ms tick: never more than 25 a second; far fewer would be a stalled timer.
  [ "$rate" -le 260 ] || { why "more than 25 polls a second"; return 1; }
  [ "$rate" -ge 120 ] || { why "fewer than 12 polls a second"; return 1; }
}
window_save() {
  local i box="" n12
  # The "RS485 Modbus" tab: polling turns to command 12.
  n12=$(count_code 0c)
  click 115 132
  wait_count 0c $((n12 + 5)) 15 || { shot modbus-tab; return 1; }
  [ "$(recorded_codes | tail -n 3 | sort -u)" = 0c ] || { why "still polling 11 on the Modbus page"; return 1; }
  # "Read" takes the driver's settings into the lists, so the save below writes them back.
  click $((5 + 2 + 15 + 52)) $((122 + 22 + 201 + 17))
  wait_count 14 1 10 || return 1
  sleep 1
  click $((5 + 2 + 138 + 52)) $((122 + 22 + 201 + 17))
  for i in $(seq 1 60); do
    box=$(DISPLAY=$display xdotool search --name '^Ustawienia$' 2>/dev/null | head -n 1)
    [ -n "$box" ] && break
    sleep 0.25
  done
  [ -n "$box" ] || { why "no confirmation box after Save"; return 1; }
  [ "$(count_code 94)" -eq 0 ] || { why "148 sent before the confirmation"; return 1; }
  DISPLAY=$display xdotool windowfocus --sync "$box" key Return
  wait_count 94 1 15 || return 1
  sleep 2
  [ "$(count_code 94)" -eq 1 ] || { why "the driver received $(count_code 94) commands 148"; return 1; }
  local report
  report=$(awk '$1 == "OUT" && substr($3, 1, 4) == "0194" {print $2 " " $3}' "$record")
  # The driver's own settings (19200 baud, parity 2, slave 1), as Read showed them.
  [ "$report" = "64 0194004b00000201$(printf '0%.0s' $(seq 1 112))" ] || { why "148 as received: $report"; return 1; }
}
window_replug() {
  local n10 n12
  kill -USR1 "$driver_pid"
  wait_field not-connected 30 || return 1
  note "FIGURE window shows the unplug"
  n10=$(count_code 0a)
  n12=$(count_code 0c)
  kill -USR1 "$driver_pid"
  wait_count 0a $((n10 + 1)) 60 || return 1
  wait_count 0c $((n12 + 5)) 20 || return 1
  wait_field connected 20 || return 1
}
stop_window() {
  [ -n "$window_pid" ] && { kill "$window_pid" 2>/dev/null; wait "$window_pid" 2>/dev/null; }
  [ -n "$xvfb_pid" ] && { kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; }
  window_pid=""
  xvfb_pid=""
}

run_case() {
  local name=$1 fn=$2 t0
  t0=$(now_ms)
  echo "WINETEST start $name at $(uptime_s) s"
  if "$fn"; then
    note "CASE $name: PASS ($(( ($(now_ms) - t0) / 1000 )) s)"
    passed=$((passed + 1))
  else
    note "CASE $name: FAIL ($(( ($(now_ms) - t0) / 1000 )) s)"
  fi
  total=$((total + 1))
}

# --- start-up ------------------------------------------------------------------------------------------
mkdir -p /run/udev
/lib/systemd/systemd-udevd --daemon >"$scratch/udevd.log" 2>&1 || { echo "WINETEST RESULT: FAIL udevd did not start"; exit 1; }
wineserver -p
t0=$(now_ms)
timeout -k 5 120 wine wineboot </dev/null >"$scratch/wineboot.log" 2>&1 || { echo "WINETEST RESULT: FAIL wineboot"; cat "$scratch/wineboot.log"; exit 1; }
note "FIGURE wineboot in the guest: $(( ($(now_ms) - t0) / 1000 )) s"

passed=0
total=0
all="backend backend-unnumbered backend-short backend-delay cli-list cli-info cli-status-watch cli-registers cli-modbus-set cli-unplug no-report-ids short-replies
  reply-delay window-polls window-save window-replug"
[ "${ZRV_WINE_SCENARIOS:-all}" = all ] && ZRV_WINE_SCENARIOS=$all
for scenario in $ZRV_WINE_SCENARIOS; do
  case $scenario in
    backend) run_case backend backend ;;
    backend-unnumbered) run_case backend-unnumbered backend_unnumbered ;;
    backend-short) run_case backend-short backend_short ;;
    backend-delay) run_case backend-delay backend_delay ;;
    cli-list) run_case cli-list cli_list ;;
    cli-info) run_case cli-info cli_info ;;
    cli-status-watch) run_case cli-status-watch cli_status_watch ;;
    cli-registers) run_case cli-registers cli_registers ;;
    cli-modbus-set) run_case cli-modbus-set cli_modbus_set ;;
    cli-unplug) run_case cli-unplug cli_unplug ;;
    no-report-ids) run_case no-report-ids no_report_ids ;;
    short-replies) run_case short-replies short_replies ;;
    reply-delay) run_case reply-delay reply_delay ;;
    window-polls) run_case window-polls window_polls ;;
    window-save) run_case window-save window_save ;;
    window-replug) run_case window-replug window_replug ;;
    *) note "CASE $scenario: FAIL (0 s) no such scenario"; total=$((total + 1)) ;;
  esac
done
stop_window
stop_driver
wineserver -k 2>/dev/null
if [ "$passed" -eq "$total" ] && [ "$total" -gt 0 ]; then
  echo "WINETEST RESULT: PASS $passed/$total"
else
  echo "WINETEST RESULT: FAIL $passed/$total"
fi
