#!/usr/bin/env bash
# Sets up, builds and runs the whole native test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/ci-common.sh
scripts/setup-debian.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELTA36_WERROR=ON
cmake --build build -j"$(nproc)"
status=0
ctest --test-dir build --output-on-failure -j"$(nproc)" || status=$?
ci_delivery_figures build
exit "$status"
