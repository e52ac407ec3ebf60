#!/usr/bin/env bash
# Helpers shared by the CI job scripts (sourced, not run).

# Installs the Debian packages given that are not installed yet; as root or
# through sudo.
ci_install() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ "${#missing[@]}" -eq 0 ] && return 0
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# Parallel jobs for builds and test runs: the machines have 2 cores shared
# with others, so never more than 2.
ci_jobs() {
  local n
  n=$(nproc 2>/dev/null || echo 1)
  [ "$n" -gt 2 ] && n=2
  echo "$n"
}
