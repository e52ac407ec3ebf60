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

# ci_check_odb_imports SO NM LIBDIR: every ODB symbol (namespace odb) that
# the shared object SO imports must be defined by the ODB libraries
# (libodb*.so) in LIBDIR, or a host with that runtime cannot load it with
# RTLD_NOW. NM is the nm of SO's architecture.
ci_check_odb_imports() {
  local so=$1 nm=$2 lib=$3 imported missing
  imported=$("$nm" -D --undefined-only "$so" | awk '{print $NF}' | sed 's/@.*//' | grep -E 'N3odb' | sort -u || true)
  missing=$(comm -23 <(printf '%s\n' "$imported" | sed '/^$/d') \
    <(for l in "$lib"/libodb*.so; do "$nm" -D --defined-only "$l"; done | awk '{print $NF}' | sed 's/@.*//' | sort -u))
  echo "$so: imports $(printf '%s\n' "$imported" | sed '/^$/d' | wc -l) ODB symbols, all defined in $lib: $([ -z "$missing" ] && echo yes || echo no)"
  if [ -n "$missing" ]; then
    echo "undefined by $lib:" >&2
    printf '%s\n' "$missing" | c++filt >&2
    return 1
  fi
}

# ci_delivery_figures BUILD: the MQTT upstream's delivery tests print one
# line each (stored, delivered, duplicates, replayed, lost), the collector's
# scenarios one each (rows at the sites and central, missing, doubled,
# replays asked); CTest keeps
# every test's output in its log, from which they are shown here.
ci_delivery_figures() {
  local log="$1/Testing/Temporary/LastTest.log"
  [ -f "$log" ] || return 0
  echo "--- MQTT upstream delivery figures"
  grep -a '^delivery ' "$log" || echo "(none: the broker tests did not run)"
  echo "--- central collector scenarios"
  grep -a '^scenario ' "$log" || echo "(none: the collector's scenarios did not run)"
}
