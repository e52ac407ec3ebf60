#!/usr/bin/env bash
# Installs what the mipsel (32-bit MIPS, little-endian) cross build needs on
# Debian 12: the cross compiler, qemu-user to run the results, and the mipsel
# development packages through multiarch. Idempotent; run as root (or sudo).
#
# Multiarch needs every "Multi-Arch: same" package that is installed for both
# amd64 and mipsel at one version. The security archive carries no mipsel
# builds, so a package with a security update (linux-libc-dev, libssl3, ...)
# can have a newer amd64 version than any mipsel one. Such packages are held
# at the newest version that both architectures have, with an apt preference
# so that later installs keep them there.
set -euo pipefail

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive

host_arch=$(dpkg --print-architecture)
cross_arch=mipsel

tools=(g++-mipsel-linux-gnu binutils-mipsel-linux-gnu qemu-user file)
cross_dev=(libjsoncpp-dev libsqlite3-dev libboost-dev libboost-date-time-dev libmosquitto-dev
           libgtest-dev libgmock-dev libatomic1)
# Known to lag behind on mipsel; others are found by trying (below).
pinned=(linux-libc-dev libssl3)

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

missing=()
for p in "${tools[@]}"; do installed "$p" || missing+=("$p"); done
for p in "${cross_dev[@]}"; do installed "$p:$cross_arch" || missing+=("$p:$cross_arch"); done
if [ "${#missing[@]}" -eq 0 ] && command -v qemu-mipsel >/dev/null; then
  echo "setup-cross: everything present"
  exit 0
fi

if ! dpkg --print-foreign-architectures | grep -qx "$cross_arch"; then
  $SUDO dpkg --add-architecture "$cross_arch"
fi
$SUDO apt-get update -qq

versions() {  # versions of package $1 for architecture $2, one a line
  apt-cache madison "$1:$2" 2>/dev/null | awk -F'|' '{gsub(/ /,"",$2); print $2}' | sort -u
}
common_version() {  # newest version of $1 that both architectures have
  comm -12 <(versions "$1" "$host_arch") <(versions "$1" "$cross_arch") | sort -V | tail -1
}

prefs=/etc/apt/preferences.d/velta36-multiarch
prefs_new=$(mktemp)
trap 'rm -f "$prefs_new"' EXIT
pin_args=()
declare -A seen=()
pin() {
  local p=$1 v
  [ -n "${seen[$p]:-}" ] && return 0
  seen[$p]=1
  v=$(common_version "$p")
  if [ -z "$v" ]; then
    echo "setup-cross: no version of $p exists for both $host_arch and $cross_arch" >&2
    return 1
  fi
  echo "setup-cross: holding $p at $v for both architectures"
  pin_args+=("$p:$host_arch=$v" "$p:$cross_arch=$v")
  printf 'Package: %s\nPin: version %s\nPin-Priority: 1001\n\n' "$p" "$v" >>"$prefs_new"
}

for p in "${pinned[@]}"; do pin "$p"; done

request=("${tools[@]}")
for p in "${cross_dev[@]}"; do request+=("$p:$cross_arch"); done

# Try the installation; each dependency that cannot be met for mipsel is a
# version skew between the architectures: hold it and try again.
for _ in 1 2 3 4 5 6 7 8; do
  if out=$(apt-get install -s --no-install-recommends --allow-downgrades "${request[@]}" "${pin_args[@]}" 2>&1); then
    break
  fi
  new=$(grep -oE "Depends: [a-z0-9.+-]+(:$cross_arch)?" <<<"$out" | awk '{print $2}' | sed "s/:$cross_arch\$//" | sort -u || true)
  [ -n "$new" ] || { echo "$out" >&2; exit 1; }
  progress=0
  # A name without a version of its own (libc-dev, provided by libc6-dev)
  # is skipped; the real package behind it is named in the same output.
  for p in $new; do
    if [ -z "${seen[$p]:-}" ] && pin "$p" 2>/dev/null; then progress=1; fi
  done
  [ "$progress" -eq 1 ] || { echo "$out" >&2; exit 1; }
done

$SUDO install -m 0644 "$prefs_new" "$prefs"
$SUDO apt-get install -y -qq --no-install-recommends --allow-downgrades "${request[@]}" "${pin_args[@]}"

# qemu-user runs mipsel programs through binfmt_misc where the kernel lets the
# container register it; CTest calls qemu-mipsel itself, which finds the
# multiarch loader /lib/ld.so.1 on its own.
command -v qemu-mipsel >/dev/null
echo "setup-cross: done"
