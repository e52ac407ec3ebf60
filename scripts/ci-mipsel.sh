#!/usr/bin/env bash
# CI job: cross build for the controller (mipsel-linux-gnu) and the whole
# test suite run under qemu-mipsel through CTest.
#
#   scripts/ci-mipsel.sh [build-dir]        (default build-target-mipsel)
#
# Tests that cannot run under user-mode emulation carry the CTest label
# "no-emulation" (with the reason beside the label), and those that start a
# mosquitto or PostgreSQL server carry "broker" or "postgres" (the servers
# and programs they start are the host's, and their waits are sized for
# native speed); all are left out here only, the native and sanitizer jobs
# run them.
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

# The cross binutils' view of the plug-in, beside the test that parses the
# ELF itself: the needed list holds only the standard runtime, and the one
# function it exports is get_providers (the rest of its exports are the
# type information of its own classes).
readelf=mipsel-linux-gnu-readelf
VELTA36_QEMU_BIN=$(command -v qemu-mipsel || command -v qemu-mipsel-static)
needed=$($readelf -d "$so" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | sort | tr '\n' ' ')
echo "velta36.so needs: $needed"
for lib in $needed; do
  case "$lib" in
    libstdc++.so.*|libm.so.*|libgcc_s.so.*|libc.so.*|ld.so.*) ;;
    *) echo "velta36.so needs $lib, which is not the standard runtime" >&2; exit 1 ;;
  esac
done
functions=$($readelf --dyn-syms -W "$so" | awk '$1 ~ /^[0-9]+:$/ && $4 == "FUNC" && $5 != "LOCAL" && $7 != "UND" {print $8}' | sed 's/@.*//' | sort -u | tr '\n' ' ')
echo "velta36.so exports functions: $functions"
[ "$functions" = "get_providers " ] || { echo "velta36.so must export get_providers and no other function" >&2; exit 1; }
others=$($readelf --dyn-syms -W "$so" | awk '$1 ~ /^[0-9]+:$/ && $5 != "LOCAL" && $7 != "UND" && $4 != "FUNC" {print $8}' | grep -v '^_ZT[IS]' || true)
[ -z "$others" ] || { echo "velta36.so exports other symbols: $others" >&2; exit 1; }

# The tool carries the MQTT upstream, linked against the mipsel
# libmosquitto, and starts under the emulator.
tool="$build/cli/velta36"
$readelf -d "$tool" | grep -q 'NEEDED.*\[libmosquitto\.so\.1\]' ||
  { echo "the mipsel velta36 does not link libmosquitto" >&2; exit 1; }
"$VELTA36_QEMU_BIN" "$tool" run --help | grep -q -- '--mqtt' ||
  { echo "the mipsel velta36 does not start under qemu-mipsel" >&2; exit 1; }

# Left out here only: the Tool*.* tests start the velta36 program itself as
# a child process through /bin/sh, which the kernel cannot run for mipsel
# without a binfmt_misc registration of qemu (not available in our CI
# containers); CTest's emulator covers only the test executable.
ctest --test-dir "$build" --output-on-failure -j"$jobs" -LE '^(no-emulation|broker|postgres)$' -E '^Tool[A-Za-z]*\.'

