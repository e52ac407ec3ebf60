#!/usr/bin/env bash
# CI job: Debian packages. velta36-host, velta36-tools and velta36-dev from
# the native build (our ODB-compatible runtime, amd64); velta36-plugin for
# amd64 and for mipsel from the target-flavour builds against the installed
# ODB 2.4 runtime (scripts/build-target.sh). Each package is then opened and
# checked: architecture and place of the plug-in; for each packaged
# velta36.so, that every ODB symbol it imports is defined by the real
# runtime of its architecture, that it is marked NODELETE, and that it loads
# with RTLD_NOW into a process with the real ODB, SQLite, JsonCpp and the
# host framework, where create_schema still works after dlclose (the loading
# tests of the target build, run on the packaged file); the tool runs from
# the unpacked files with its own copy of the plug-in.
#
#   scripts/ci-packages.sh [native-build-dir] [odb-prefix]
#                          (defaults build-target-pkg and ../shared/odb-2.4;
#                           missing builds are configured and built; the
#                           target builds are build-target-odb-{amd64,mipsel})
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/ci-common.sh
scripts/setup-debian.sh
ci_install file dpkg-dev binutils-mipsel-linux-gnu

native=${1:-build-target-pkg}
prefix=${2:-${VELTA36_ODB_PREFIX:-$(cd .. && pwd)/shared/odb-2.4}}
prefix=$(cd "$prefix" && pwd)
jobs=$(ci_jobs)

if [ ! -f "$native/CMakeCache.txt" ]; then
  cmake -S . -B "$native" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELTA36_WERROR=ON
fi
cmake --build "$native" -j"$jobs"
for arch in amd64 mipsel; do
  # The loading tests come along: they check the packaged file below.
  scripts/build-target.sh --arch "$arch" --odb "$prefix/$arch" --build "build-target-odb-$arch" --tests
done
target_amd64=build-target-odb-amd64
target_mipsel=build-target-odb-mipsel

rm -rf "$native/packages" "$target_amd64/packages" "$target_mipsel/packages"
(cd "$native" && cpack -G DEB)
(cd "$target_amd64" && cpack -G DEB)
(cd "$target_mipsel" && cpack -G DEB)

fail() { echo "packages: $*" >&2; exit 1; }
field() { dpkg-deb -f "$1" "$2"; }

multiarch_native=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
# check_plugin DEB ARCH MULTIARCH MACHINE NM TARGET-BUILD [EMULATOR]
check_plugin() {
  local deb=$1 arch=$2 ma=$3 machine=$4 nm=$5 build=$6 emulator=${7:-} dir so
  [ "$(field "$deb" Architecture)" = "$arch" ] || fail "$deb: architecture $(field "$deb" Architecture), want $arch"
  dir=$(mktemp -d)
  dpkg-deb -x "$deb" "$dir"
  so="$dir/usr/lib/$ma/velta36/plugins/velta36.so"
  [ -f "$so" ] || fail "$deb: no usr/lib/$ma/velta36/plugins/velta36.so"
  [ "$(find "$dir" -type f | wc -l)" -eq 1 ] || fail "$deb: holds more than the plug-in"
  file -L "$so" | grep -q "$machine" || fail "$deb: velta36.so is not $machine code: $(file -L "$so")"
  ci_check_odb_imports "$so" "$nm" "$prefix/$arch/lib" || fail "$deb: imports ODB symbols the real runtime lacks"
  "${nm%nm}readelf" -d "$so" | grep -q 'FLAGS_1.*NODELETE' || fail "$deb: velta36.so is not marked NODELETE"
  # The loading tests of the target build, on the packaged file.
  for t in tests/store/velta36_store_load_tests tests/plugin/velta36_plugin_load_tests; do
    VELTA36_PLUGIN="$so" LD_LIBRARY_PATH="$prefix/$arch/lib" $emulator "$build/$t" --gtest_brief=1 \
      || fail "$deb: $(basename "$t") failed on the packaged velta36.so"
  done
  rm -rf "$dir"
}

shopt -s nullglob
debs=("$native"/packages/*.deb "$target_amd64"/packages/*.deb "$target_mipsel"/packages/*.deb)
[ "${#debs[@]}" -gt 0 ] || fail "no packages were made"
for deb in "${debs[@]}"; do
  printf '%-60s %s %s\n' "$(basename "$deb")" "$(field "$deb" Package)" "$(field "$deb" Architecture)"
done

plugin_amd64=("$target_amd64"/packages/velta36-plugin_*_amd64.deb)
plugin_mipsel=("$target_mipsel"/packages/velta36-plugin_*_mipsel.deb)
tools=("$native"/packages/velta36-tools_*.deb)
host=("$native"/packages/velta36-host_*.deb)
dev=("$native"/packages/velta36-dev_*.deb)
[ "${#plugin_amd64[@]}" -eq 1 ] || fail "no amd64 velta36-plugin package"
[ "${#plugin_mipsel[@]}" -eq 1 ] || fail "no mipsel velta36-plugin package"
[ "${#host[@]}" -eq 1 ] || fail "no velta36-host package"
[ "${#dev[@]}" -eq 1 ] || fail "no velta36-dev package"
[ "$(ls "$target_amd64"/packages/*.deb "$target_mipsel"/packages/*.deb | wc -l)" -eq 2 ] \
  || fail "a target build packaged more than the plug-in"
native_plugin=("$native"/packages/velta36-plugin_*)
[ "${#native_plugin[@]}" -eq 0 ] || fail "the native build (our runtime) packaged a velta36-plugin"
check_plugin "${plugin_amd64[0]}" amd64 "$multiarch_native" "x86-64" nm "$target_amd64"
check_plugin "${plugin_mipsel[0]}" mipsel mipsel-linux-gnu "MIPS" mipsel-linux-gnu-nm "$target_mipsel" qemu-mipsel
# Listed first, then searched: grep -q stops reading at the first match,
# and under pipefail the listing cut short would count as a failure.
dev_files=$(dpkg-deb -c "${dev[0]}")
grep -q "usr/include/velta36/host/ZRMSPDevice.h" <<<"$dev_files" || fail "velta36-dev lacks the host headers"
grep -q "usr/include/velta36/plugin/velta36.h" <<<"$dev_files" || fail "velta36-dev lacks the plug-in headers"

# The tool from the unpacked packages, without velta36-plugin: it must start
# and use its own velta36.so, which resolves its ODB symbols against the
# runtime of velta36-host.
if [ "${#tools[@]}" -eq 1 ]; then
  root=$(mktemp -d)
  for deb in "${host[0]}" "${tools[0]}"; do dpkg-deb -x "$deb" "$root"; done
  [ -x "$root/usr/bin/velta36" ] || fail "velta36-tools lacks /usr/bin/velta36"
  [ -f "$root/usr/lib/velta36/velta36.so" ] && [ ! -L "$root/usr/lib/velta36/velta36.so" ] \
    || fail "velta36-tools lacks its own /usr/lib/velta36/velta36.so"
  odb_runtime=$(ls "$root/usr/lib/$multiarch_native"/libvelta36-odb.so* | head -1)
  missing=$(comm -23 \
    <(nm -D --undefined-only "$root/usr/lib/velta36/velta36.so" | awk '{print $NF}' | grep -E 'N3odb' | sort -u) \
    <(nm -D --defined-only "$odb_runtime" | awk '{print $NF}' | sort -u))
  [ -z "$missing" ] || fail "the tool's velta36.so imports ODB symbols libvelta36-odb lacks: $missing"
  LD_LIBRARY_PATH="$root/usr/lib/$multiarch_native" "$root/usr/bin/velta36" --help >/dev/null \
    || fail "the packaged tool does not start"
  # Running unattended and reading captures: the unit, its user, the
  # dissector where Wireshark loads Lua plug-ins, the page about them, and
  # the maintainer script that creates the user.
  for f in usr/lib/systemd/system/velta36@.service usr/lib/sysusers.d/velta36.conf \
           usr/share/velta36/wireshark/velta36.lua "usr/lib/$multiarch_native/wireshark/plugins/velta36.lua" \
           usr/share/doc/velta36-tools/field-use.md; do
    [ -e "$root/$f" ] || fail "velta36-tools lacks /$f"
  done
  dpkg-deb -I "${tools[0]}" postinst >/dev/null || fail "velta36-tools has no postinst"
  grep -q systemd-sysusers <<<"$(dpkg-deb -I "${tools[0]}" postinst)" \
    || fail "velta36-tools' postinst does not create the user"
  rm -rf "$root"
else
  echo "packages: no velta36-tools (tools not built)"
fi
echo "packages: ${#debs[@]} packages checked"
