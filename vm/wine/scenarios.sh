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
cli_list() {
  start_driver cli || return 1
  wait_listed 60 || return 1
  cli list-text list || { why "list failed"; return 1; }
  show list-text 6
  grep -q 'ZRVXXX' "$scratch/list-text.out" || { why "ZRVXXX not in the list"; return 1; }
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
all="cli-list"
for scenario in ${ZRV_WINE_SCENARIOS:-$all}; do
  case $scenario in
    cli-list) run_case cli-list cli_list ;;
    *) note "CASE $scenario: FAIL (0 s) no such scenario"; total=$((total + 1)) ;;
  esac
done
stop_driver
wineserver -k 2>/dev/null
if [ "$passed" -eq "$total" ] && [ "$total" -gt 0 ]; then
  echo "WINETEST RESULT: PASS $passed/$total"
else
  echo "WINETEST RESULT: FAIL $passed/$total"
fi
