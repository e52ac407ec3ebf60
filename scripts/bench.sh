#!/usr/bin/env bash
# Builds Release in build-bench and runs every benchmark of the event path,
# then prints the table of results (Markdown, as in docs/benchmarks.md):
#   scripts/bench.sh
# Environment:
#   BENCH_DISK_DIR  folder on the ordinary file system for the databases
#                   (default /tmp); RAM-backed runs use /dev/shm
#   BENCH_JOBS      build jobs (default 2)
#   BENCH_MIPSEL    0 skips the mipsel size (default: built when the cross
#                   compiler is installed, in build-bench-mipsel)
# Each program also prints a RESULT line of its own; the commands below are
# the ones the table in docs/benchmarks.md names.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$root/build-bench
disk=${BENCH_DISK_DIR:-/tmp}
ram=/dev/shm
jobs=${BENCH_JOBS:-2}
log=$build/bench-logs
programs=(velta36 velta36-bench-store velta36-bench-decode velta36-bench-count
          velta36-bench-drain velta36-bench-scale velta36-bench-site
          velta36-bench-upstream velta36-bench-upstream-latency velta36_cli velta36-bench-collector velta36-bench-collect)

for tool in valgrind callgrind_annotate strip; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is missing (apt-get install valgrind binutils)" >&2; exit 1; }
done

echo "== build (Release, $build)" >&2
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVELTA36_BUILD_TESTS=OFF -DVELTA36_WERROR=ON >/dev/null
cmake --build "$build" -j"$jobs" --target "${programs[@]}" >/dev/null
bin=$build/bench
mkdir -p "$log"

# field LINE KEY: the value of KEY=value in a RESULT line.
field() { tr ' ' '\n' <<<"$1" | sed -n "s/^$2=//p"; }
# result FILE: the RESULT line a program wrote.
result() { grep -o 'RESULT.*' "$1" | tail -1; }
# ratio A B [digits]
ratio() { awk -v a="$1" -v b="$2" -v d="${3:-3}" 'BEGIN { printf "%.*f", d, a / b }'; }

# instructions KIND N1 N2: instructions of one operation under callgrind,
# from the difference between runs of N1 and N2 operations (start-up cancels).
instructions() {
  local kind=$1 n1=$2 n2=$3 out i1 i2
  for n in "$n1" "$n2"; do
    out=$log/callgrind.$kind.$n
    TMPDIR=$ram valgrind --tool=callgrind --callgrind-out-file="$out" \
      "$bin/velta36-bench-count" "$kind" "$n" >/dev/null 2>"$out.log"
  done
  i1=$(sed -n 's/^totals: *//p' "$log/callgrind.$kind.$n1")
  i2=$(sed -n 's/^totals: *//p' "$log/callgrind.$kind.$n2")
  awk -v a="$i1" -v b="$i2" -v n="$((n2 - n1))" 'BEGIN { printf "%.0f", (b - a) / n }'
}
# rows_per_op KIND N: rows one operation stored in the counted run of N.
rows_per_op() {
  local line; line=$(grep -o 'RESULT.*' "$log/callgrind.$1.$2.log")
  ratio "$(field "$line" rows)" "$(field "$line" operations)" 0
}

gb_flags=(--benchmark_repetitions=5 --benchmark_enable_random_interleaving=true
          --benchmark_min_time=0.2)

echo "== 1. store: SaveDoorEvent against raw SQLite" >&2
# A commit on the disk waits for fsync: more time per repetition there.
disk_flags=(--benchmark_repetitions=5 --benchmark_enable_random_interleaving=true --benchmark_min_time=2)
TMPDIR=$disk "$bin/velta36-bench-store" "${disk_flags[@]}" >"$log/store-disk.txt"
TMPDIR=$ram "$bin/velta36-bench-store" "${gb_flags[@]}" >"$log/store-ram.txt"
store_disk=$(result "$log/store-disk.txt")
store_ram=$(result "$log/store-ram.txt")
save_ir=$(instructions save 50 250)
raw_ir=$(instructions raw 50 250)

echo "== 2. decode: process on event, status and acknowledgement replies" >&2
TMPDIR=$ram "$bin/velta36-bench-decode" "${gb_flags[@]}" >"$log/decode.txt"
decode=$(result "$log/decode.txt")
event_ir=$(instructions event 10 60)
status_ir=$(instructions status 1000 6000)
ack_ir=$(instructions ack 1000 6000)
# Events per reply as the counted run stored them (rows per reply).
per_event_ir=$(ratio "$event_ir" "$(rows_per_op event 60)" 0)

echo "== 3. drain through a paced pseudo-terminal" >&2
drain() { { TMPDIR=$ram "$bin/velta36-bench-drain" "$@" || true; } | tee -a "$log/drain.txt" | tail -1; }
: >"$log/drain.txt"
d9600=$(drain --baud 9600 --batches 20 --pacing deadline)
d9600s=$(drain --baud 9600 --batches 20 --pacing sleep)
d115k=$(drain --baud 115200 --batches 50 --pacing deadline)
d115ks=$(drain --baud 115200 --batches 50 --pacing sleep)

echo "== 4. one host: 32 controllers on 8 lines" >&2
scale() { local dir=$1; shift; { TMPDIR=$dir "$bin/velta36-bench-scale" "$@" || true; } | tee -a "$log/scale.txt" | tail -1; }
: >"$log/scale.txt"
s_ram=$(scale "$ram" --lines 8 --per-line 4 --events 200)
s_disk=$(scale "$disk" --lines 8 --per-line 4 --events 25)
s_wal=$(scale "$disk" --lines 8 --per-line 4 --events 100 --journal wal)
s_paced=$(scale "$ram" --lines 8 --per-line 4 --events 50 --baud 9600)

echo "== 6. a site's delivery to its listeners" >&2
site() { { TMPDIR=$ram "$bin/velta36-bench-site" "$build/plugin/velta36.so" "$@" || true; } | tee -a "$log/site.txt" | tail -1; }
: >"$log/site.txt"
site_wal=$(site --batches 1000 --journal wal)
site_delete=$(site --batches 1000 --journal delete)
site_paced_wal=$(site --batches 300 --journal wal --every 10)
site_paced_delete=$(site --batches 300 --journal delete --every 10)

echo "== 5. size of velta36.so, stripped" >&2
so_size() { local so=$1 strip=$2 tmp; tmp=$(mktemp); "$strip" --strip-all -o "$tmp" "$so"; stat -c %s "$tmp"; rm -f "$tmp"; }
echo "== 7. the MQTT upstream with a backlog, against a mosquitto it starts" >&2
upstream() { local dir=$1; shift; TMPDIR=$dir "$bin/velta36-bench-upstream" "$@" | tee -a "$log/upstream.txt" | grep -o 'RESULT.*'; }
: >"$log/upstream.txt"
u_disk=$(upstream "$disk" --events 100000 --rounds 5)
u_ram=$(upstream "$ram" --events 100000 --rounds 5)
u_latency=$({ TMPDIR=$disk "$bin/velta36-bench-upstream-latency" "$build/plugin/velta36.so" --events 400 --every 100 ||
              true; } | tee -a "$log/upstream.txt" | grep -o 'RESULT.*')
u_idle=$({ "$root/bench/idle_cpu.sh" "$build/cli/velta36" 30 || true; } | tee -a "$log/upstream.txt" | grep -o 'RESULT.*')

size_amd64=$(so_size "$build/plugin/velta36.so" strip)
size_mipsel="n/a (no mipsel cross compiler)"
if [ "${BENCH_MIPSEL:-1}" != 0 ] && command -v mipsel-linux-gnu-g++ >/dev/null; then
  if cmake -S . -B "$build-mipsel" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mipsel-linux-gnu.cmake" \
       -DCMAKE_BUILD_TYPE=Release -DVELTA36_BUILD_TESTS=OFF -DVELTA36_BUILD_TOOLS=OFF \
       -DVELTA36_BUILD_BENCH=OFF >"$log/mipsel.txt" 2>&1 &&
     cmake --build "$build-mipsel" -j"$jobs" --target velta36 >>"$log/mipsel.txt" 2>&1; then
    size_mipsel="$(so_size "$build-mipsel/plugin/velta36.so" mipsel-linux-gnu-strip) B"
  else
    size_mipsel="n/a (mipsel build failed, see $log/mipsel.txt)"
  fi
fi

echo "== 8. the central collector against PostgreSQL (data in $disk)" >&2
TMPDIR=$disk "$bin/velta36-bench-collector" --events 100000 --rows 3000000 --runs 3 >"$log/collector.txt"
c_insert=$(grep -o 'RESULT insert.*' "$log/collector.txt")
c_gap=$(grep -o 'RESULT gap.*' "$log/collector.txt")
c_table=$(grep -o 'RESULT table.*' "$log/collector.txt")
TMPDIR=$disk "$bin/velta36-bench-collect" --events 100000 --runs 3 --seconds 20 >"$log/collect.txt"
b_insert=$(grep -o 'RESULT broker_insert.*' "$log/collect.txt")
b_latency=$(grep -o 'RESULT latency.*' "$log/collect.txt")
b_gap=$(grep -o 'RESULT broker_gap.*' "$log/collect.txt")

load=$(cut -d' ' -f1-3 /proc/loadavg)
# Commands in the table as run from the top of the repository.
bin=${bin#"$root"/}
cat <<TABLE

Load average during the run: $load ($(nproc) cores).

| # | Figure | Measured | Goal | Command |
|---|---|---|---|---|
| 1 | SaveDoorEvent / raw SQLite, disk ($disk), paired | $(field "$store_disk" save_us) µs / $(field "$store_disk" raw_us) µs = **$(field "$store_disk" ratio)** | ≤ 1.2 | \`TMPDIR=$disk $bin/velta36-bench-store ${disk_flags[*]}\` |
| 1 | the same, each alone: wall (CPU) | $(field "$store_disk" alone_save_us) µs ($(field "$store_disk" alone_save_cpu_us)) / $(field "$store_disk" alone_raw_us) µs ($(field "$store_disk" alone_raw_cpu_us)) | | same run |
| 1 | SaveDoorEvent / raw SQLite, RAM (/dev/shm), paired | $(field "$store_ram" save_us) µs / $(field "$store_ram" raw_us) µs = **$(field "$store_ram" ratio)** | ≤ 1.2 | \`TMPDIR=/dev/shm $bin/velta36-bench-store ${gb_flags[*]}\` |
| 1 | the same, each alone: wall (CPU) | $(field "$store_ram" alone_save_us) µs ($(field "$store_ram" alone_save_cpu_us)) / $(field "$store_ram" alone_raw_us) µs ($(field "$store_ram" alone_raw_cpu_us)) | | same run |
| 1 | instructions per save: SaveDoorEvent / raw | $save_ir / $raw_ir = **$(ratio "$save_ir" "$raw_ir" 2)** | (goal is for time) | \`TMPDIR=/dev/shm valgrind --tool=callgrind $bin/velta36-bench-count save\|raw 50\|250\` |
| 2 | process, full event reply: CPU per event | $(field "$decode" event_cpu_us) µs | | \`TMPDIR=/dev/shm $bin/velta36-bench-decode ${gb_flags[*]}\` |
| 2 | process, full event reply: instructions per event | $per_event_ir | | \`TMPDIR=/dev/shm valgrind --tool=callgrind $bin/velta36-bench-count event 10\|60\` |
| 2 | process, status reply: CPU / instructions | $(field "$decode" status_cpu_ns) ns / $status_ir | | same two commands, \`status 1000\|6000\` |
| 2 | process, acknowledgement: CPU / instructions | $(field "$decode" ack_cpu_ns) ns / $ack_ir | | same two commands, \`ack 1000\|6000\` |
| 3 | drain at 9600 baud (scheduled pacing) | $(field "$d9600" rate) ev/s of $(field "$d9600" limit) ev/s (wire: $(field "$d9600" bytes_per_batch) B per batch) = **$(field "$d9600" ratio)** | ≥ 0.95 | \`TMPDIR=/dev/shm $bin/velta36-bench-drain --baud 9600 --batches 20\` |
| 3 | drain at 9600 baud (simulator's own pacing) | $(field "$d9600s" rate) ev/s = $(field "$d9600s" ratio) | | \`... --baud 9600 --batches 20 --pacing sleep\` |
| 3 | drain at 115200 baud (scheduled pacing) | $(field "$d115k" rate) ev/s of $(field "$d115k" limit) ev/s = $(field "$d115k" ratio) | | \`... --baud 115200 --batches 50\` |
| 3 | drain at 115200 baud (simulator's own pacing) | $(field "$d115ks" rate) ev/s = $(field "$d115ks" ratio) | | \`... --baud 115200 --batches 50 --pacing sleep\` |
| 3 | share of the window taken by the controller's bytes at their rate / by the host, 9600 baud | $(field "$d9600" paced_share) / $(field "$d9600" host_share) | | the 9600 run |
| 3 | the same at 115200 baud | $(field "$d115k" paced_share) / $(field "$d115k" host_share) | | the 115200 run |
| 4 | 32 devices, 8 lines, unpaced, RAM | $(field "$s_ram" rate) ev/s, $(field "$s_ram" events) events, lost $(field "$s_ram" lost), duplicates $(field "$s_ram" duplicates) | lost 0 | \`TMPDIR=/dev/shm $bin/velta36-bench-scale --lines 8 --per-line 4 --events 200\` |
| 4 | 32 devices, 8 lines, unpaced, disk | $(field "$s_disk" rate) ev/s, $(field "$s_disk" events) events, lost $(field "$s_disk" lost), duplicates $(field "$s_disk" duplicates) | lost 0 | \`TMPDIR=$disk $bin/velta36-bench-scale --lines 8 --per-line 4 --events 25\` |
| 4 | 32 devices, 8 lines, unpaced, disk, file in WAL mode | $(field "$s_wal" rate) ev/s, $(field "$s_wal" events) events, lost $(field "$s_wal" lost), duplicates $(field "$s_wal" duplicates) | lost 0 | \`TMPDIR=$disk $bin/velta36-bench-scale --events 100 --journal wal\` |
| 4 | 32 devices, 8 lines at 9600 baud, RAM | $(field "$s_paced" rate) ev/s, $(field "$s_paced" events) events, lost $(field "$s_paced" lost) | lost 0 | \`TMPDIR=/dev/shm $bin/velta36-bench-scale --events 50 --baud 9600\` |
| 4 | 8 lines at 9600 baud against 8 × the one-line wire limit | **$(ratio "$(field "$s_paced" rate)" "$(awk -v l="$(field "$d9600" limit)" 'BEGIN { print 8 * l }')")** | | the paced scale run and the 9600 drain |
| 4 | peak memory of the host process (VmHWM), unpaced RAM run | $(field "$s_ram" peak_kb) kB | | first scale command |
| 4 | memory per device object: created and configured / after its first save | $(field "$s_ram" device_bytes) B / $(field "$s_ram" device_connected_bytes) B | | first scale command (200 devices) |
| 5 | velta36.so stripped, amd64 | $size_amd64 B | | \`scripts/bench.sh\` (strip --strip-all) |
| 5 | velta36.so stripped, mipsel | $size_mipsel | | \`scripts/bench.sh\` (mipsel-linux-gnu-strip, build-bench-mipsel) |
| 6 | site, a batch every 10 ms, RAM, WAL: acknowledgement to listener p50 / p99 / max | $(field "$site_paced_wal" p50_ms) / $(field "$site_paced_wal" p99_ms) / $(field "$site_paced_wal" max_ms) ms | | \`TMPDIR=/dev/shm $bin/velta36-bench-site ${build#"$root"/}/plugin/velta36.so --batches 300 --journal wal --every 10\` |
| 6 | the same, rollback journal | $(field "$site_paced_delete" p50_ms) / $(field "$site_paced_delete" p99_ms) / $(field "$site_paced_delete" max_ms) ms | | \`... --journal delete --every 10\` |
| 6 | site drained flat out, RAM, WAL: p50 / p99 / max, events a second | $(field "$site_wal" p50_ms) / $(field "$site_wal" p99_ms) / $(field "$site_wal" max_ms) ms, $(field "$site_wal" rate) ev/s | | \`... --batches 1000 --journal wal\` |
| 6 | the same, rollback journal | $(field "$site_delete" p50_ms) / $(field "$site_delete" p99_ms) / $(field "$site_delete" max_ms) ms, $(field "$site_delete" rate) ev/s | | \`... --batches 1000 --journal delete\` |
| 7 | MQTT upstream, 100,000 stored events at QoS 1 to a local mosquitto, window 20, disk: engine / plain libmosquitto publisher, median of the rounds' ratios | $(field "$u_disk" engine_rate) ev/s / $(field "$u_disk" plain_rate) ev/s, **$(field "$u_disk" ratio)** | ≥ 0.8 | \`TMPDIR=$disk $bin/velta36-bench-upstream --events 100000 --rounds 5\` |
| 7 | the same, RAM (/dev/shm) | $(field "$u_ram" engine_rate) ev/s / $(field "$u_ram" plain_rate) ev/s, **$(field "$u_ram" ratio)** | ≥ 0.8 | \`TMPDIR=/dev/shm $bin/velta36-bench-upstream --events 100000 --rounds 5\` |
| 7 | \`run --mqtt\`'s wiring, 4 controllers at 9600 baud, an event every 100 ms: a row's commit to a subscriber, p50 / p99 / max | $(field "$u_latency" p50_ms) / $(field "$u_latency" p99_ms) / $(field "$u_latency" max_ms) ms | p99 < 50 ms | \`TMPDIR=$disk $bin/velta36-bench-upstream-latency ${build#"$root"/}/plugin/velta36.so --events 400 --every 100\` |
| 7 | idle site, 4 controllers at 9600 baud: CPU of \`velta36 run\` without / with the upstream connected | $(field "$u_idle" cpu_without_pct) % / $(field "$u_idle" cpu_with_pct) % of a core, **$(field "$u_idle" cpu_more_pct) %** more | < 0.5 % | \`bench/idle_cpu.sh ${build#"$root"/}/cli/velta36 30\` |
| 7 | every row numbered and committed to the outbox (disk) after | $(field "$u_disk" assign_s) s | | the disk run |
| 7 | peak memory (VmHWM) of the upstream alone: backlog of 100,000 / none | $(field "$u_disk" backlog_peak_kb) kB / $(field "$u_disk" idle_peak_kb) kB, **+$(field "$u_disk" growth_kb) kB** | within 1 MB | the disk run |
| 8 | collector / plain COPY, burst of $(field "$c_insert" events) events | $(field "$c_insert" collector_rate) ev/s / $(field "$c_insert" copy_rate) ev/s = **$(field "$c_insert" ratio)** ($(field "$c_insert" batches) batches) | ≥ 0.5 | \`TMPDIR=$disk $bin/velta36-bench-collector --events 100000 --rows 3000000 --runs 3\` |
| 8 | the same, batches of $(field "$c_insert" large_rows) | $(field "$c_insert" large_rate) ev/s = $(field "$c_insert" large_ratio) | | same run |
| 8 | gap of 1,000 closed once the replayed events arrive | $(field "$c_gap" close_ms) ms | | same run |
| 8 | table of $(field "$c_table" rows) rows: filled / indexed / size | $(field "$c_table" fill_s) s / $(field "$c_table" index_s) s / $(field "$c_table" size_mb) MB | | same run |
| 8 | collector through the broker / plain COPY, burst of $(field "$b_insert" events) queued events | $(field "$b_insert" collector_rate) ev/s / $(field "$b_insert" copy_rate) ev/s = **$(field "$b_insert" ratio)** ($(field "$b_insert" batches) batches) | ≥ 0.5 | \`TMPDIR=$disk $bin/velta36-bench-collect --events 100000 --runs 3 --seconds 20\` |
| 8 | site commit to central commit, 3 sites at 50 ev/s each: p50 / p99 / max | $(field "$b_latency" p50_ms) / **$(field "$b_latency" p99_ms)** / $(field "$b_latency" max_ms) ms ($(field "$b_latency" events) events) | p99 < 200 ms | same run |
| 8 | gap of 1,000 closed by replay through the broker, request to last commit | $(field "$b_gap" close_ms) ms | | same run |
TABLE
echo
echo "Reader's filters on $(field "$c_table" rows) rows (median ms; the plan's scans):"
echo
echo "| Filter | rows found | without indexes | plan | with indexes | plan |"
echo "|---|---|---|---|---|---|"
for f in $(grep -o 'RESULT query phase=indexes filter=[a-z_]*' "$log/collector.txt" | sed 's/.*filter=//'); do
  without=$(grep -o "RESULT query phase=no_indexes filter=$f .*" "$log/collector.txt")
  with=$(grep -o "RESULT query phase=indexes filter=$f .*" "$log/collector.txt")
  echo "| $f | $(field "$with" found) | $(field "$without" ms) | $(field "$without" plan) | $(field "$with" ms) | $(field "$with" plan) |"
done
echo "Logs: $log" >&2
