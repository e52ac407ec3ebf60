#!/usr/bin/env bash
# CI job: the target flavour, the velta36.so a real host loads. Built against
# the installed ODB 2.4 runtime (../shared/odb-2.4/<arch>) with the mapping
# the odb compiler generates, for amd64 and (cross) for mipsel, and the same
# test sources as the native job run against that runtime: the store, save
# and contention tests, the loading tests, the plug-in and layout tests, the
# protocol tests and the soak test; natively, and under qemu-mipsel.
#
#   scripts/ci-target.sh [odb-prefix]
#                 (default $VELTA36_ODB_PREFIX or ../shared/odb-2.4 beside
#                  the repository; it holds amd64/ and mipsel/)
#
# Build folders: build-target-odb-amd64, build-target-odb-mipsel (the
# packages job makes the velta36-plugin packages from them).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/ci-common.sh

prefix=${1:-${VELTA36_ODB_PREFIX:-$(cd .. && pwd)/shared/odb-2.4}}
[ -d "$prefix/amd64" ] && [ -d "$prefix/mipsel" ] || { echo "ci-target: no ODB runtime in $prefix" >&2; exit 1; }
prefix=$(cd "$prefix" && pwd)
jobs=$(ci_jobs)
ci_install odb binutils-mipsel-linux-gnu

# The executables this job runs, by CTest label (one label per executable).
labels='^(velta36_store_tests|velta36_save_door_event_tests|velta36_store_load_tests|velta36_plugin_tests|velta36_plugin_load_tests|velta36_protocol_tests|soak)$'

for arch in amd64 mipsel; do
  echo "--- $arch: build against $prefix/$arch"
  scripts/build-target.sh --arch "$arch" --odb "$prefix/$arch" --build "build-target-odb-$arch" --tests
done

echo "--- amd64: tests against the real runtime"
ci_check_odb_imports build-target-odb-amd64/plugin/velta36.so nm "$prefix/amd64/lib"
LD_LIBRARY_PATH="$prefix/amd64/lib" \
  ctest --test-dir build-target-odb-amd64 --output-on-failure -j"$jobs" -L "$labels"

echo "--- mipsel: tests against the real runtime, under qemu-mipsel"
ci_check_odb_imports build-target-odb-mipsel/plugin/velta36.so mipsel-linux-gnu-nm "$prefix/mipsel/lib"
file -L build-target-odb-mipsel/plugin/velta36.so | grep -q MIPS || { echo "ci-target: mipsel velta36.so is not MIPS code" >&2; exit 1; }
LD_LIBRARY_PATH="$prefix/mipsel/lib" \
  ctest --test-dir build-target-odb-mipsel --output-on-failure -j"$jobs" -L "$labels" -LE no-emulation
