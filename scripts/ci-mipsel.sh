#!/usr/bin/env bash
# CI job: cross build for the controller (mipsel-linux-gnu) and the whole
# test suite run under qemu-mipsel through CTest.
#
#   scripts/ci-mipsel.sh [build-dir]        (default build-target-mipsel)
#
# Tests that cannot run under user-mode emulation carry the CTest label
# "no-emulation" (with the reason beside the label) and are left out here
# only; the native and sanitizer jobs run them.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/ci-common.sh
scripts/setup-debian.sh
scripts/setup-cross.sh

build=${1:-build-target-mipsel}
jobs=$(ci_jobs)
cmake -S . -B "$build" \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchain-mipsel-linux-gnu.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELTA36_BUILD_BENCH=OFF -DVELTA36_WERROR=ON
cmake --build "$build" -j"$jobs"

# What was built must be mipsel code, or the run below proves nothing.
so="$build/plugin/velta36.so"
file -L "$so" | tee /dev/stderr | grep -q "MIPS" || { echo "velta36.so is not a MIPS object" >&2; exit 1; }

ctest --test-dir "$build" --output-on-failure -j"$jobs" -LE no-emulation
