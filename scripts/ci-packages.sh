#!/usr/bin/env bash
# CI job: Debian packages. amd64: velta36-plugin, velta36-host, velta36-tools,
# velta36-dev from the native build; mipsel: velta36-plugin from the cross
# build. Each package is then opened and checked: architecture, the plug-in
# where a host looks for it and of the right machine, and the tool runs from
# the unpacked files.
#
#   scripts/ci-packages.sh [native-build-dir] [mipsel-build-dir]
#                          (defaults build-target-pkg, build-target-mipsel;
#                           a missing build is configured and built)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/ci-common.sh
scripts/setup-debian.sh
ci_install file dpkg-dev

native=${1:-build-target-pkg}
cross=${2:-build-target-mipsel}
jobs=$(ci_jobs)

if [ ! -f "$native/CMakeCache.txt" ]; then
  cmake -S . -B "$native" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELTA36_WERROR=ON
fi
cmake --build "$native" -j"$jobs"
if [ ! -f "$cross/CMakeCache.txt" ]; then
  scripts/setup-cross.sh
  cmake -S . -B "$cross" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchain-mipsel-linux-gnu.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELTA36_BUILD_BENCH=OFF -DVELTA36_WERROR=ON
fi
cmake --build "$cross" -j"$jobs"

rm -rf "$native/packages" "$cross/packages"
(cd "$native" && cpack -G DEB)
(cd "$cross" && cpack -G DEB)

fail() { echo "packages: $*" >&2; exit 1; }
field() { dpkg-deb -f "$1" "$2"; }

multiarch_native=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
check_plugin() {  # deb arch multiarch machine-pattern
  local deb=$1 arch=$2 ma=$3 machine=$4 dir
  [ "$(field "$deb" Architecture)" = "$arch" ] || fail "$deb: architecture $(field "$deb" Architecture), want $arch"
  dir=$(mktemp -d)
  dpkg-deb -x "$deb" "$dir"
  local so="$dir/usr/lib/$ma/velta36/plugins/velta36.so"
  [ -f "$so" ] || fail "$deb: no usr/lib/$ma/velta36/plugins/velta36.so"
  file -L "$so" | grep -q "$machine" || fail "$deb: velta36.so is not $machine code: $(file -L "$so")"
  rm -rf "$dir"
}

shopt -s nullglob
debs=("$native"/packages/*.deb "$cross"/packages/*.deb)
[ "${#debs[@]}" -gt 0 ] || fail "no packages were made"
for deb in "${debs[@]}"; do
  printf '%-60s %s %s\n' "$(basename "$deb")" "$(field "$deb" Package)" "$(field "$deb" Architecture)"
done

plugin_amd64=("$native"/packages/velta36-plugin_*_amd64.deb)
plugin_mipsel=("$cross"/packages/velta36-plugin_*_mipsel.deb)
tools=("$native"/packages/velta36-tools_*.deb)
host=("$native"/packages/velta36-host_*.deb)
dev=("$native"/packages/velta36-dev_*.deb)
[ "${#plugin_amd64[@]}" -eq 1 ] || fail "no amd64 velta36-plugin package"
[ "${#plugin_mipsel[@]}" -eq 1 ] || fail "no mipsel velta36-plugin package"
[ "${#host[@]}" -eq 1 ] || fail "no velta36-host package"
[ "${#dev[@]}" -eq 1 ] || fail "no velta36-dev package"
[ "$(ls "$cross"/packages/*.deb | wc -l)" -eq 1 ] || fail "the cross build packaged more than the plug-in"
check_plugin "${plugin_amd64[0]}" amd64 "$multiarch_native" "x86-64"
check_plugin "${plugin_mipsel[0]}" mipsel mipsel-linux-gnu "MIPS"
dpkg-deb -c "${dev[0]}" | grep -q "usr/include/velta36/host/ZRMSPDevice.h" || fail "velta36-dev lacks the host headers"
dpkg-deb -c "${dev[0]}" | grep -q "usr/include/velta36/plugin/velta36.h" || fail "velta36-dev lacks the plug-in headers"

# The tool from the unpacked packages: it must start, and find its plug-in
# through the link velta36-tools ships.
if [ "${#tools[@]}" -eq 1 ]; then
  root=$(mktemp -d)
  for deb in "${plugin_amd64[0]}" "${host[0]}" "${tools[0]}"; do dpkg-deb -x "$deb" "$root"; done
  [ -x "$root/usr/bin/velta36" ] || fail "velta36-tools lacks /usr/bin/velta36"
  [ -e "$root/usr/lib/velta36/velta36.so" ] || fail "velta36-tools: /usr/lib/velta36/velta36.so does not lead to the plug-in"
  LD_LIBRARY_PATH="$root/usr/lib/$multiarch_native" "$root/usr/bin/velta36" --help >/dev/null \
    || fail "the packaged tool does not start"
  rm -rf "$root"
else
  echo "packages: no velta36-tools (tools not built)"
fi
echo "packages: ${#debs[@]} packages checked"
