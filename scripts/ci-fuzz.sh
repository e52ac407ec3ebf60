#!/usr/bin/env bash
# CI job: every libFuzzer target for a bounded time, starting from its seed
# corpus. Uses (and if needed makes) the sanitizer build.
#
#   scripts/ci-fuzz.sh [seconds-per-target] [build-dir]
#                                    (defaults 60 and build-target-asan)
#
# Findings (crash-*, leak-*, timeout-*) are written to <build>/fuzz/findings;
# any of them fails the job. New corpus entries go to <build>/fuzz/corpus-<name>.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/ci-common.sh

seconds=${1:-60}
build=${2:-build-target-asan}
if [ ! -f "$build/CMakeCache.txt" ] || ! grep -q '^VELTA36_BUILD_FUZZ:BOOL=ON' "$build/CMakeCache.txt"; then
  scripts/ci-sanitize.sh "$build"
fi
cmake --build "$build" -j"$(ci_jobs)" --target velta36_fuzz_all
# The targets work in a directory of their own: every path they get is absolute.
build=$(cd "$build" && pwd)

findings="$build/fuzz/findings"
mkdir -p "$findings"
status=0
summary=()
for target in fuzz_process fuzz_device_io_control fuzz_init_setting fuzz_request; do
  exe="$build/fuzz/$target"
  corpus="$build/fuzz/corpus-$target"
  seeds="$build/fuzz/seeds/$target"
  mkdir -p "$corpus"
  log="$build/fuzz/$target.log"
  echo "--- $target: ${seconds}s"
  set +e
  "$exe" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
         -print_final_stats=1 -artifact_prefix="$findings/$target-" \
         "$corpus" "$seeds" >"$log" 2>&1
  rc=$?
  set -e
  runs=$(grep -E '^stat::number_of_executed_units:' "$log" | awk '{print $2}' | tail -1)
  cov=$(grep -oE 'cov: [0-9]+' "$log" | tail -1 | awk '{print $2}')
  echo "$target: exit $rc, ${runs:-?} executions, coverage ${cov:-?} edges"
  summary+=("$target ${runs:-?} executions, exit $rc")
  if [ "$rc" -ne 0 ]; then
    status=1
    tail -n 60 "$log"
  fi
done
if ls "$findings" | grep -q .; then
  echo "findings:"; ls -l "$findings"; status=1
fi
printf 'fuzz: %s\n' "${summary[@]}"
exit "$status"
