#!/usr/bin/env bash
# CI job: the whole test suite built with clang under AddressSanitizer and
# UndefinedBehaviorSanitizer (no recovery: the first report fails the test),
# together with the libFuzzer targets, whose seed corpora run as tests too.
#
#   scripts/ci-sanitize.sh [build-dir]      (default build-target-asan)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/ci-common.sh
scripts/setup-debian.sh
ci_install clang-14 libclang-rt-14-dev

build=${1:-build-target-asan}
jobs=$(ci_jobs)
cmake -S . -B "$build" \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_FLAGS_DEBUG="-O1 -g" -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" \
  -DCMAKE_PROJECT_INCLUDE="$PWD/cmake/Velta36Sanitizers.cmake" \
  -DVELTA36_SANITIZE=address,undefined \
  -DVELTA36_BUILD_FUZZ=ON -DVELTA36_BUILD_BENCH=OFF -DVELTA36_WERROR=ON
cmake --build "$build" -j"$jobs"

export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=0:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
status=0
ctest --test-dir "$build" --output-on-failure -j"$jobs" || status=$?
ci_delivery_figures "$build"
exit "$status"
