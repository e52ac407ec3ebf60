#!/usr/bin/env bash
# Sets up, builds what the demo needs, drains the built-in simulated
# controller into a demo folder and lists the newest stored events.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-debian.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target velta36_cli velta36 -j"$(nproc)"
demo="build/demo"
rm -rf "$demo"
build/cli/velta36 run --dir "$demo"
echo
echo "newest stored events (build/cli/velta36 events --dir $demo --limit 10):"
build/cli/velta36 events --dir "$demo" --limit 10
