#!/usr/bin/env bash
# Installs everything the CI jobs use, before any of them builds. The cross
# set-up may move packages such as linux-libc-dev to another version (both
# architectures must agree), which touches system headers; done first, it
# cannot make a finished native build stale.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/ci-common.sh
scripts/setup-debian.sh
scripts/setup-cross.sh
ci_install clang-14 libclang-rt-14-dev file dpkg-dev
# The target flavour: the odb compiler, and nm/readelf for mipsel objects.
ci_install odb binutils-mipsel-linux-gnu
