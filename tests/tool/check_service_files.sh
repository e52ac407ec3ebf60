#!/usr/bin/env bash
# The files velta36-tools installs for running unattended:
#  - velta36@.service passes `systemd-analyze verify` without a word, for an
#    instance, with ExecStart pointed at the tool as built (verify checks
#    that the program is there);
#  - its sandbox scores 2.5 or lower in `systemd-analyze security` (the
#    score is printed), and still lets the host reach its serial adapters
#    and an MQTT broker;
#  - the package's postinst, run on a scratch root (DPKG_ROOT), creates the
#    user velta36 from velta36.sysusers in the group dialout, with its home
#    in /var/lib/velta36 and no login, and /etc/velta36;
#  - the maintainer scripts are valid shell.
# Exit 77 (skipped) where systemd's tools are missing.
#
#   check_service_files.sh <tools-dir> <built velta36>
set -uo pipefail
tools=$1
tool=$2
command -v systemd-analyze >/dev/null && command -v systemd-sysusers >/dev/null || {
  echo "systemd-analyze or systemd-sysusers missing: skipped"; exit 77; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

sed "s|^ExecStart=/usr/bin/velta36 |ExecStart=$tool |" "$tools/systemd/velta36@.service" \
  > "$scratch/velta36@site.service"
grep -q "^ExecStart=$tool run " "$scratch/velta36@site.service" || fail "ExecStart does not run /usr/bin/velta36 run"
said=$(systemd-analyze verify "$scratch/velta36@site.service" 2>&1) || fail "systemd-analyze verify: $said"
[ -z "$said" ] || fail "systemd-analyze verify: $said"

# 2.5 is the most exposure the unit may have; a tighter sandbox that cuts
# off the broker (AF_INET) or the USB adapters would pass the score, so
# those are checked by name.
report=$(systemd-analyze security --offline=true "$scratch/velta36@site.service" 2>&1) ||
  fail "systemd-analyze security: $report"
score=$(sed -n 's/.*Overall exposure level for .*: \([0-9.]*\) .*/\1/p' <<<"$report")
[ -n "$score" ] || fail "systemd-analyze security printed no score: $report"
echo "systemd-analyze security: exposure $score (at most 2.5)"
awk -v s="$score" 'BEGIN { exit !(s <= 2.5) }' ||
  fail "exposure $score is above 2.5: $(grep '✗' <<<"$report")"
unit="$tools/systemd/velta36@.service"
grep -q '^RestrictAddressFamilies=.*AF_INET .*AF_INET6' "$unit" || fail "the MQTT upstream needs AF_INET and AF_INET6"
for device in ttyS ttyUSB ttyACM pts; do
  grep -q "^DeviceAllow=char-$device rw$" "$unit" || fail "no DeviceAllow=char-$device rw"
done

# The package's own script, on a scratch root: the user, in dialout, with
# its home in /var/lib/velta36 and no login; the folder of the sites.
root="$scratch/root"
mkdir -p "$root/etc" "$root/usr/lib/sysusers.d"
printf 'root:x:0:0:root:/root:/bin/bash\n' > "$root/etc/passwd"
printf 'root:x:0:\ndialout:x:20:\n' > "$root/etc/group"
: > "$root/etc/shadow"
: > "$root/etc/gshadow"
cp "$tools/systemd/velta36.sysusers" "$root/usr/lib/sysusers.d/velta36.conf"
DPKG_ROOT="$root" sh "$tools/debian/tools/postinst" configure >/dev/null 2>&1 || fail "postinst configure failed"
grep -q '^velta36:x:[0-9]*:[0-9]*:[^:]*:/var/lib/velta36:/usr/sbin/nologin$' "$root/etc/passwd" ||
  fail "no user velta36 with home /var/lib/velta36: $(cat "$root/etc/passwd")"
grep -q '^dialout:x:20:velta36$' "$root/etc/group" || fail "velta36 is not in dialout: $(cat "$root/etc/group")"
[ -d "$root/etc/velta36" ] || fail "postinst made no /etc/velta36"

for script in "$tools"/debian/tools/*; do
  sh -n "$script" || fail "$script is not valid shell"
done
echo "service files: ok"
