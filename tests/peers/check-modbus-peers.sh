#!/usr/bin/env bash
# Our Modbus RTU ends against peers nobody here wrote: mbpoll (a master) reads the simulated
# driver's RS485 side, and a pymodbus server answers our client. Pseudo-terminals only, no root.
# Usage: tests/peers/check-modbus-peers.sh [BUILD_DIR]   (default build/default)
set -u
cd "$(dirname "$0")/../.."
build=${1:-build/default}
driver=$build/apps/zrv-uhid-driver/zrv-uhid-driver
cli=$build/apps/zrv-cli/zrv-cli
for tool in "$driver" "$cli" "$build/tests/peers/zrv-peer-read"; do
  [ -x "$tool" ] || { echo "FAIL: $tool not built"; exit 1; }
done
# Debian's own Python: its pymodbus and pyserial, whatever other python3 comes first on PATH.
python=/usr/bin/python3
for tool in mbpoll socat "$python"; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool not installed (scripts/setup.sh)"; exit 1; }
done

work=$(mktemp -d)
pids=()
cleanup() {
  local p
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
pass() { echo "PASS: $*"; }
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

wait_for() {  # a path, up to 5 s
  local i
  for i in $(seq 50); do [ -e "$1" ] && return 0; sleep 0.1; done
  return 1
}

# mbpoll's "[N]: value" lines as "N value".
poll() { timeout 10 mbpoll -m rtu -b 38400 -P none -o 0.5 -1 "$@" 2>"$work/poll.err" |
  sed -n 's/^\[\([0-9]*\)\]:[[:space:]]*\(-\?[0-9]*\)$/\1 \2/p'; }

# --- (a) mbpoll reads the simulated driver ---------------------------------------------------
# Lively, so that the register block holds a working driver's values; the set points stand still
# at the simulated driver's known ones (1-based addresses): enabled, mode 2, PWM limit 1000,
# current limit 10000 mA, soft start 1500 ms, nothing in 4-9.
line=$work/driver
"$driver" --no-hid --lively --rs485-pty "$line" --slave-id 17 --baud 38400 --parity none 2>"$work/driver.log" &
pids+=($!)
wait_for "$line" || { fail "zrv-uhid-driver made no pseudo-terminal: $(cat "$work/driver.log")"; exit 1; }

expected=$(printf '%s\n' "1 1" "2 2" "3 1000" "4 10000" "5 0" "6 0" "7 0" "8 0" "9 0" "10 0" "11 1500")

holding=$(poll -a 17 -t 4 -r 1 -c 11 "$line")
if [ "$holding" = "$expected" ]; then
  pass "mbpoll read holding registers 0-10 of slave 17: $(tr '\n' ' ' <<<"$holding")"
else
  fail "holding registers 0-10: got [$(tr '\n' ' ' <<<"$holding")] want [$(tr '\n' ' ' <<<"$expected")] $(cat "$work/poll.err")"
fi

for table in 4 3; do
  status=$(poll -a 17 -t $table -r 101 -c 14 "$line")
  # Register 108 (1-based) is the temperature: a working driver's, above freezing and below 150.
  temperature=$(awk '$1 == 109 {print $2}' <<<"$status")
  if [ "$(wc -l <<<"$status")" -eq 14 ] && [ -n "$temperature" ] && [ "$temperature" -gt 0 ] &&
     [ "$temperature" -lt 150 ]; then
    pass "mbpoll -t $table read registers 100-113: 14 values, temperature $temperature"
  else
    fail "mbpoll -t $table registers 100-113: [$(tr '\n' ' ' <<<"$status")] $(cat "$work/poll.err")"
  fi
done

for ref in 12 100 115; do  # 0-based 11, 99, 114: outside the driver's two runs
  poll -a 17 -t 4 -r $ref -c 1 "$line" >/dev/null
  if grep -q "Illegal data address" "$work/poll.err"; then
    pass "register $((ref - 1)) answered with exception 02 (illegal data address)"
  else
    fail "register $((ref - 1)): $(cat "$work/poll.err")"
  fi
done

if [ -z "$(poll -a 18 -t 4 -r 1 -c 1 "$line")" ] && grep -q "timed out" "$work/poll.err"; then
  pass "slave 18 got no answer"
else
  fail "slave 18: $(cat "$work/poll.err")"
fi

# The same driver on a serial port (--rs485): one end of a pair, mbpoll on the other.
"$python" tests/peers/pty_pair.py "$work/sp" "$work/tool" 2>"$work/pair.log" &
pids+=($!)
if wait_for "$work/sp" && wait_for "$work/tool"; then
  "$driver" --no-hid --lively --rs485 "$work/sp" --slave-id 17 --baud 38400 --parity none 2>"$work/serial.log" &
  pids+=($!)
  sleep 0.3  # the driver opens its port
  holding=$(poll -a 17 -t 4 -r 1 -c 11 "$work/tool")
  if [ "$holding" = "$expected" ]; then
    pass "zrv-uhid-driver --rs485 on a serial port: mbpoll read holding registers 0-10"
  else
    fail "--rs485: got [$(tr '\n' ' ' <<<"$holding")] $(cat "$work/poll.err" "$work/serial.log")"
  fi
else
  fail "no pseudo-terminal pair: $(cat "$work/pair.log")"
fi

# --- (b) our client reads a pymodbus server ---------------------------------------------------
# A socat pair keeps both terminal ends open itself, and our port refuses a line another program
# holds: it must say so, naming socat.
socat pty,raw,echo=0,link="$work/sa" pty,raw,echo=0,link="$work/sb" 2>"$work/socat.log" &
pids+=($!)
if wait_for "$work/sb"; then
  timeout 10 "$build/tests/peers/zrv-peer-read" "$work/sb" 23 38400 >"$work/busy.json" 2>&1
  if grep -q '"verdict":"port-error"' "$work/busy.json" && grep -q 'socat' "$work/busy.json"; then
    pass "a socat pair's end is refused as held by socat"
  else
    fail "a socat pair's end: $(cat "$work/busy.json")"
  fi
else
  fail "socat made no pair: $(cat "$work/socat.log")"
fi

# So the server and our client meet on a pair that holds neither end.
a=$work/a
b=$work/b
"$python" tests/peers/pty_pair.py "$a" "$b" 2>"$work/pair.log" &
pids+=($!)
wait_for "$a" && wait_for "$b" || { fail "no pseudo-terminal pair: $(cat "$work/pair.log")"; exit 1; }
"$python" tests/peers/modbus_rtu_server.py "$a" 23 38400 2>"$work/server.log" &
pids+=($!)
sleep 1  # the server opens its port

# The peer itself first: mbpoll sees the values the server was given.
peer=$(poll -a 23 -t 4 -r 1 -c 3 "$b" | tr '\n' ' ')
if [ "$peer" = "1 1000 2 1001 3 1002 " ]; then
  pass "pymodbus server answers mbpoll with its values: $peer"
else
  fail "pymodbus server to mbpoll: [$peer] $(cat "$work/poll.err" "$work/server.log")"
fi

# Holding register N holds 1000 + N, input register N 2000 + N: every value read must be one of
# those at its own address, and all 25 of the driver's registers (or the 15 rows of the preview)
# must have been read.
check_read() {  # what, JSON file, error file
  local verdict
  verdict=$("$python" - "$2" <<'PY'
import json, sys
try:
    doc = json.load(open(sys.argv[1]))
except ValueError as e:
    print("no JSON:", e); sys.exit()
seen, bad = set(), []
def walk(node):
    if isinstance(node, dict):
        addr, value = node.get("addr", node.get("address")), node.get("value")
        if isinstance(addr, int) and isinstance(value, int):
            seen.add(addr)
            # The preview's 112 is 112..113 as one signed 32-bit value, low word first.
            good = {1000 + addr, 2000 + addr}
            if addr == 112 and value > 0xFFFF:
                good = {((b + 113) << 16) | (b + 112) for b in (1000, 2000)}
            if value not in good: bad.append((addr, value))
        for v in node.values(): walk(v)
    elif isinstance(node, list):
        for v in node: walk(v)
walk(doc)
every = set(range(0, 11)) | set(range(100, 114))
preview = {0, 1, 2, 3, 10, 100, 101, 102, 103, 107, 108, 109, 110, 111, 112}
print("ok %d" % len(seen) if seen in (every, preview) and not bad else "read %s, wrong %s" % (sorted(seen), bad))
PY
)
  if [[ $verdict == ok* ]]; then
    pass "$1 from pymodbus: ${verdict#ok } registers, each the server's value"
  else
    fail "$1 from pymodbus: $verdict $(cat "$3")"
  fi
}

timeout 10 "$build/tests/peers/zrv-peer-read" "$b" 23 38400 >"$work/peer.json" 2>"$work/peer.err"
check_read "our link check's reads (zrv-peer-read)" "$work/peer.json" "$work/peer.err"

if "$cli" --help 2>&1 | grep -q 'bus read'; then
  timeout 10 "$cli" bus read --port "$b" --slave-id 23 --baud 38400 --parity none --json >"$work/read.json" 2>"$work/read.err"
  check_read "zrv-cli bus read" "$work/read.json" "$work/read.err"
else
  echo "SKIP: zrv-cli has no 'bus read' yet: that command against the pymodbus server not checked"
fi

[ "$failures" -eq 0 ]
