#!/usr/bin/env bash
# Installs what building and testing velta36 needs on Debian 12. Idempotent;
# run as root (or through sudo). Packages already present are left alone.
# tshark reads the tool's captures with our dissector in the tests, and
# systemd-analyze checks the service unit. The MQTT upstream links
# libmosquitto; its tests start mosquitto brokers (with passwords made by
# mosquitto_passwd and certificates made by openssl). The collector's tests start a
# PostgreSQL 15 server of their own (the postgresql package's service is not
# used) and the collector talks to it through libpq.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git
  libjsoncpp-dev libboost-dev libboost-date-time-dev libsqlite3-dev sqlite3
  libcli11-dev libgtest-dev libgmock-dev libbenchmark-dev
  valgrind
  tshark systemd
  libmosquitto-dev mosquitto mosquitto-clients openssl
  libpq-dev postgresql-15
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  echo "installing: ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
