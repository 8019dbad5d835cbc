#!/usr/bin/env bash
# Builds every benchmark program of the default preset, runs them, runs the VM comparison of our
# input path against hidapi, and prints one table of the figures.
#
# Environment:
#   ZRV_BENCH_BUILD_DIR  build directory (default: the default preset's, build/default)
#   ZRV_BENCH_UI_SECONDS seconds per CPU run of bench_ui (default 20)
#   ZRV_BENCH_DEMO_SECONDS seconds of the demo's CPU run (default 60)
#   ZRV_YARDSTICK_SECONDS seconds of each yardstick run after it (default 30)
#   ZRV_BENCH_SKIP_VM=1  leave out the VM comparison (it needs root, qemu and a few minutes)
#   ZRV_BENCH_CLI_RUNS, ZRV_BENCH_CLI_SECONDS  one-shot runs (20) and seconds of the 25 Hz CPU run (20)
#                        of bench_cli (zrv-cli)
#   ZRV_BENCH_OUT        where the raw outputs go (default: a new directory under /tmp)
# The table is also written to $ZRV_BENCH_OUT/table.md.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"

log() { echo "bench: $*" >&2; }

python=/usr/bin/python3
[ -x "$python" ] || { log "$python is missing: run scripts/setup.sh"; exit 1; }

out="${ZRV_BENCH_OUT:-$(mktemp -d /tmp/zrv-bench.XXXXXX)}"
mkdir -p "$out"
log "raw outputs in $out"

# --- build -------------------------------------------------------------------------------------
build="${ZRV_BENCH_BUILD_DIR:-}"
if [ -z "$build" ]; then
  build="$root/build/default"
  cmake --preset default >"$out/cmake.log" 2>&1 || { cat "$out/cmake.log"; exit 1; }
else
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$out/cmake.log" 2>&1 ||
    { cat "$out/cmake.log"; exit 1; }
fi
# Every target under bench/ whose name starts with bench_, whoever added it.
all_targets="$(cmake --build "$build" --target help)"
mapfile -t targets < <(echo "$all_targets" | sed -n 's/^\.\.\. \(bench_[A-Za-z0-9_]*\).*/\1/p' | sort -u)
[ ${#targets[@]} -gt 0 ] || { log "no benchmark targets (is ZRV_BUILD_BENCH off?)"; exit 1; }
log "building ${targets[*]}"
cmake --build "$build" -j2 --target "${targets[@]}" >"$out/build.log" 2>&1 || { tail -n 60 "$out/build.log"; exit 1; }

# --- run -----------------------------------------------------------------------------------------
# The window benchmarks need a platform plugin; without a display they draw offscreen.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"; fi
for t in "${targets[@]}"; do
  exe="$(find "$build/bench" -type f -name "$t" -perm -u+x | head -n 1)"
  [ -n "$exe" ] || { log "$t: built but not found"; exit 1; }
  log "running $t"
  # Google Benchmark programs write their results as JSON; the others print lines of figures.
  if ldd "$exe" 2>/dev/null | grep -q 'libbenchmark' || grep -qa -- 'benchmark_out_format' "$exe"; then
    "$exe" --benchmark_out="$out/$t.json" --benchmark_out_format=json >"$out/$t.txt" 2>"$out/$t.err" ||
      { cat "$out/$t.err"; log "$t failed"; exit 1; }
  else
    args=()
    [ "$t" = bench_ui ] && args=("${ZRV_BENCH_UI_SECONDS:-20}")
    "$exe" "${args[@]}" >"$out/$t.txt" 2>"$out/$t.err" || { cat "$out/$t.err"; log "$t failed"; exit 1; }
  fi
done

# The demo's CPU while polling at 25 Hz comes from a script of its own, when the tree has it.
demo_script="$root/bench/ui/demo_cpu.sh"
if [ -f "$demo_script" ] && echo "$all_targets" | grep -q '^\.\.\. zrv-pc-demo$'; then
  log "building zrv-pc-demo and measuring its CPU (${ZRV_BENCH_DEMO_SECONDS:-60} s)"
  # The yardstick (a bare Qt window at 25 repaints a second) is measured after it, when the tree has it.
  yardstick_target=()
  echo "$all_targets" | grep -q '^\.\.\. qt_yardstick$' && yardstick_target=(qt_yardstick)
  cmake --build "$build" -j2 --target zrv-pc-demo "${yardstick_target[@]}" >>"$out/build.log" 2>&1 ||
    { tail -n 60 "$out/build.log"; exit 1; }
  demo="$(find "$build/apps" -type f -name zrv-pc-demo -perm -u+x | head -n 1)"
  yardstick=""
  [ ${#yardstick_target[@]} -eq 0 ] || yardstick="$(find "$build/bench" -type f -name qt_yardstick -perm -u+x | head -n 1)"
  # Its own virtual X server when there is no display, so the offscreen default must not leak in.
  (unset QT_QPA_PLATFORM; sh "$demo_script" "$demo" "${ZRV_BENCH_DEMO_SECONDS:-60}" "$yardstick") \
    >"$out/demo_cpu.txt" 2>"$out/demo_cpu.err" ||
    { cat "$out/demo_cpu.err"; log "demo_cpu.sh failed"; exit 1; }
fi

vm_failed=0
if [ "${ZRV_BENCH_SKIP_VM:-0}" != 1 ]; then
  log "running the VM comparison (ours against hidapi)"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo -E"
  # Two virtual CPUs as on any desktop, and one, where every hand-off is also a thread switch.
  for smp in 2 1; do
    if ! ZRV_VM_SMP=$smp ZRV_VM_SCENARIOS=flood-compare $SUDO bash "$root/vm/run-vm-test.sh" \
        >"$out/vm-$smp.txt" 2>"$out/vm-$smp.err"; then
      tail -n 40 "$out/vm-$smp.err" >&2
      log "the VM comparison on $smp virtual CPU(s) failed; its rows are left empty"
      vm_failed=1
    fi
  done
fi

# --- one table ----------------------------------------------------------------------------------
"$python" - "$out" <<'PY' | tee "$out/table.md"
import glob, json, os, re, sys

out = sys.argv[1]
rows = []  # (figure, value, source)


def text(name):
    path = os.path.join(out, name)
    return open(path, errors="replace").read() if os.path.exists(path) else ""


def fmt_ns(ns):
    return f"{ns / 1000:.2f} us" if ns >= 10000 else f"{ns:.1f} ns"


def fmt_time(b):
    # The benchmark thread's CPU time: other load on the machine leaves it alone. Wall time
    # follows when it differs much (waiting for another thread, or a busy machine).
    scale = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}[b.get("time_unit", "ns")]
    real, cpu = b["real_time"] * scale, b["cpu_time"] * scale
    if abs(real - cpu) > 0.2 * real:
        return f"{fmt_ns(cpu)} (wall {fmt_ns(real)})"
    return fmt_ns(cpu)


def fmt_allocs(b):
    a = b.get("allocs/op")
    return None if a is None else f"{a:g}"


# Google Benchmark programs.
known = {
    "BM_ComputeTick": "Tick: live view of one status (ComputeTick)",
    "BM_FrameCommand": "Send: frame a one-byte command",
    "BM_FrameWriteModbusSettings": "Send: frame the Modbus settings write",
    "BM_FormatFixed": "Format one fixed-point number",
    "BM_PollDecodeTick": "One poll period: poll, decode, tick (status page)",
    "BM_RegisterPollDecodeTick": "One poll period: poll, decode, tick (register page)",
    "BM_SampleRingPush": "Recorder: one sample into the ring (conversion included)",
    "BM_RecorderAdd": "Recorder: one sample, ring and fault trigger, not recording",
    "BM_AppendCsvRow": "Recorder: one CSV row",
}
window_arg = {"0": "window hidden", "1": "window shown"}
for path in sorted(glob.glob(os.path.join(out, "*.json"))):
    program = os.path.basename(path)[:-5]
    for b in json.load(open(path)).get("benchmarks", []):
        if b.get("run_type") == "aggregate":
            continue
        name = b["name"]
        parts = [p for p in name.split("/") if not p.startswith("iterations:")]
        base, args = parts[0], parts[1:]
        m = re.match(r"BM_Decode(\w+)$", base)
        figure = f"Decode one reply: {m.group(1)}" if m else known.get(base, base)
        if base in ("BM_PollDecodeTick", "BM_RegisterPollDecodeTick") and len(args) == 1:
            figure += ", " + window_arg.get(args[0], args[0])
        elif args:
            figure += " /" + "/".join(args)
        value = fmt_time(b)
        allocs = fmt_allocs(b)
        if allocs is not None:
            value += f", {allocs} allocations"
        rows.append((figure, value, f"{program} {name}"))


def find(regex, body):
    return re.search(regex, body, re.M)


link = text("bench_link.txt")
if link:
    m = find(r"flood: (\d+) reports in ([\d.]+) s = (\d+) reports/s \(dropped by the full input queue: (\d+)\)", link)
    rows.append(("Hand-off throughput, reader to handler", f"{int(m.group(3)):,} reports/s ({m.group(4)} dropped)" if m else "not printed", "bench_link"))
    m = find(r"wake-ups of the UI thread: (\d+) = ([\d.]+) reports per wake-up", link)
    rows.append(("Reports per wake-up of the UI thread in that flood", m.group(2) if m else "not printed", "bench_link"))
    m = find(r"heap allocations on the whole path: (\d+) for (\d+) reports = ([\d.]+) per report", link)
    rows.append(("Allocations per report received", f"{float(m.group(3)):g} ({m.group(1)} in {m.group(2)} reports)" if m else "not printed", "bench_link"))
    m = find(r"latency [^:]*: p50 ([\d.]+) us, p99 ([\d.]+) us, max ([\d.]+) us", link)
    rows.append(("Hand-off latency p50 / p99", f"{m.group(1)} / {m.group(2)} us (max {m.group(3)} us)" if m else "not printed", "bench_link"))
    m = find(r"DeviceChange with (\d+) attached devices: median ([\d.]+) us, p99 ([\d.]+) us", link)
    rows.append((f"One rescan (DeviceChange) with {m.group(1) if m else 64} devices, median / p99",
                 f"{m.group(2)} / {m.group(3)} us" if m else "not printed", "bench_link"))

ui = text("bench_ui.txt")
if ui:
    m = find(r"start-up to first paint\s+([\d.]+) ms", ui)
    rows.append(("Start-up to first paint", f"{m.group(1)} ms" if m else "not printed", "bench_ui"))
    m = find(r"peak resident memory\s+([\d.]+) MB", ui)
    rows.append(("Peak resident memory", f"{m.group(1)} MB" if m else "not printed", "bench_ui"))
    m = find(r"CPU, steady reading\s+([\d.]+) s over (\d+) s = ([\d.]+) %", ui)
    rows.append(("CPU, live view at 25 Hz, steady reading", f"{m.group(3)} % of one core" if m else "not printed", "bench_ui"))
    m = find(r"CPU, reading changing per tick\s+([\d.]+) s over (\d+) s = ([\d.]+) %", ui)
    rows.append(("CPU, live view at 25 Hz, reading changing every tick", f"{m.group(3)} % of one core" if m else "not printed", "bench_ui"))

# Programs that print lines of their own: every line with a figure in it, as printed.
for path in sorted(glob.glob(os.path.join(out, "bench_*.txt"))):
    program = os.path.basename(path)[:-4]
    if program in ("bench_link", "bench_ui") or os.path.exists(os.path.join(out, program + ".json")):
        continue
    for line in open(path, errors="replace"):
        line = line.strip()
        if re.search(r"\d", line):
            label, sep, value = line.partition(":")
            rows.append((label.strip(), value.strip(), program) if sep and value.strip() else (line, "", program))

demo = text("demo_cpu.txt")
if demo:
    m = find(r"([\d.]+) CPU s over (\d+) s = ([\d.]+) CPU s per minute = ([\d.]+) % of one core", demo)
    rows.append(("CPU of the demo, connected and polling at 25 Hz",
                 f"{m.group(4)} % of one core ({m.group(3)} CPU s per minute, {m.group(2)} s run)" if m else "not printed",
                 "bench/ui/demo_cpu.sh"))
    m = find(r"zrv-pc-demo: .*?\(\d+ threads, (\d+) runs on a CPU per second\)", demo)
    if m:
        rows.append(("Times the demo's threads were put on a CPU, per second", m.group(1), "bench/ui/demo_cpu.sh"))
    m = find(r"^zrv-pc-demo on the Recorder page: [\d.]+ CPU s over (\d+) s = ([\d.]+) CPU s per minute = ([\d.]+) % of one core", demo)
    if m:
        io = find(r"^zrv-pc-demo: [\d.]+ CPU s over \d+ s = [\d.]+ CPU s per minute = ([\d.]+) % of one core", demo)
        ratio = f", {float(m.group(3)) / float(io.group(1)):.2f}x the IO Status figure" if io and float(io.group(1)) > 0 else ""
        rows.append(("CPU of the demo on the Recorder page, all series, polling at 25 Hz",
                     f"{m.group(3)} % of one core ({m.group(1)} s run{ratio})", "bench/ui/demo_cpu.sh"))
    for y in re.finditer(r"^yardstick, (.*?): [\d.]+ CPU s over \d+ s = [\d.]+ CPU s per minute = ([\d.]+) % of one core", demo, re.M):
        rows.append((f"Yardstick: {y.group(1)}", f"{y.group(2)} % of one core", "bench/ui/demo_cpu.sh, qt_yardstick"))
else:
    rows.append(("CPU of the demo, connected and polling at 25 Hz", "not measured (no demo benchmark)", "-"))

def vm_rows(vm, cpus):
    where = f"VM flood-compare, {cpus}"
    m = find(r"VMTEST FIGURE flood-compare: ours (\d+) reports/s, hidapi (\d+) reports/s, ratio ([\d.]+) \(([^)]*)\)", vm)
    if not m:
        rows.append((f"Reports/s in the VM ({cpus}), ours vs hidapi", "not measured", where))
        return
    rows.append((f"Reports/s read in the VM ({cpus}): ours (reader + hand-off + decode)", f"{int(m.group(1)):,}", where))
    rows.append((f"Reports/s read in the VM ({cpus}): hidapi (hid_read_timeout loop)", f"{int(m.group(2)):,}", where))
    rows.append((f"Ratio ours / hidapi ({cpus})", f"{m.group(3)} ({m.group(4)})", where))
    m = find(r"flood-compare platform: (\d+) reports/s without the hand-off, ratio ([\d.]+) to hidapi", vm)
    if m:
        rows.append((f"Reports/s read in the VM ({cpus}): our backend alone, no hand-off", f"{int(m.group(1)):,} (ratio {m.group(2)} to hidapi)", where))
    m = find(r"flood-compare wake-ups: ours ([\d.]+) reports per wake-up", vm)
    if m:
        rows.append((f"Reports per wake-up of the UI thread in the VM ({cpus}, median)", m.group(1), where))
    m = find(r"flood-compare cpu: ours ([\d.]+) us, hidapi ([\d.]+) us, platform ([\d.]+) us", vm)
    if m:
        rows.append((f"CPU per report received in the VM ({cpus}): ours / hidapi / backend alone", f"{m.group(1)} / {m.group(2)} / {m.group(3)} us", where))
    m = find(r"flood-compare event dispatcher: (\S+)", vm)
    if m and cpus == "1 vCPU":
        rows.append(("Event dispatcher of the VM guest's UI thread", m.group(1), "VM flood-compare"))


vm_rows(text("vm-2.txt"), "2 vCPUs")
vm_rows(text("vm-1.txt"), "1 vCPU")

cpu = ""
try:
    for line in open("/proc/cpuinfo"):
        if line.startswith("model name"):
            cpu = line.split(":", 1)[1].strip()
            break
except OSError:
    pass
print(f"Machine: {cpu or 'unknown CPU'}, {os.cpu_count()} cores")
print()
w1 = max(len(r[0]) for r in rows)
w2 = max(len(r[1]) for r in rows)
w3 = max(len(r[2]) for r in rows)
print(f"| {'Figure'.ljust(w1)} | {'Value'.ljust(w2)} | {'From'.ljust(w3)} |")
print(f"|{'-' * (w1 + 2)}|{'-' * (w2 + 2)}|{'-' * (w3 + 2)}|")
for f, v, s in rows:
    print(f"| {f.ljust(w1)} | {v.ljust(w2)} | {s.ljust(w3)} |")
PY
[ "$vm_failed" -eq 0 ] || { log "FAIL: the VM comparison did not run through (see $out/vm-*.err)"; exit 1; }
