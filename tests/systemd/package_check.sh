#!/bin/sh
# Runs in a systemd guest as the test's command (package_on_systemd_test.cpp):
# the Debian package's life as a user lives it. Each check prints "ok: what"
# or "FAILED: what (what was found)"; the exit code counts the failures. The
# guest's root is the host's under a tmpfs overlay, so the package goes into
# the guest's copy of the dpkg database alone. Variables:
#   DEB          the package file
#   NTP_SERVER   the host's end of the link, where chronyd answers
set -u
export DEBIAN_FRONTEND=noninteractive
unit=/etc/systemd/system/kairovel.service
link=/etc/systemd/system/multi-user.target.wants/kairovel.service
failures=0

# expect WHAT EXPECTED FOUND
expect() {
  if [ "$2" = "$3" ]; then echo "ok: $1"; else echo "FAILED: $1 (found: $3)"; failures=$((failures + 1)); fi
}
corrected() { journalctl -u kairovel -o cat --no-pager | grep -q 'Corrected clock deviation of '; }
status() { dpkg-query -W -f '${Status}' kairovel 2>&1; }
main_pid() { systemctl show -p MainPID --value kairovel.service; }

# man-db's trigger would open every manual page of the host's root, each one a
# descriptor of the guest on the host (over 20,000); man finds them without it.
rm -f /var/lib/man-db/auto-update

# Installing: the programs, the manual pages, and no service.
apt-get install -y --no-install-recommends "$DEB" > /results/install.log 2>&1
expect "installed" "0 install ok installed" "$? $(status)"
expect "programs" "/usr/sbin/kairovel /usr/sbin/kairovel-sc" "$(command -v kairovel) $(command -v kairovel-sc)"
expect "manual pages" "/usr/share/man/man8/kairovel.8.gz /usr/share/man/man8/kairovel-sc.8.gz" \
  "$(man -w kairovel) $(man -w kairovel-sc)"
expect "no manual page warnings" "" "$(man --warnings kairovel 2>&1 > /dev/null)"
expect "no unit before /install" "none" "$([ -e "$unit" ] && echo present || echo none)"

# The service, created by the user, corrects the clock against the host's chronyd.
expect "service installed" "Service installed and running" "$(kairovel /install "/ntp_machine=$NTP_SERVER" /period=0:0:10 2>&1)"
expect "unit runs the packaged program" "/usr/sbin/kairovel" \
  "$(systemctl show -p ExecStart --value kairovel.service | sed -n 's/.*path=\([^ ;]*\).*/\1/p')"
limit=60
while ! corrected && [ "$limit" -gt 0 ]; do sleep 1; limit=$((limit - 1)); done
expect "a pass corrected the clock" "yes" "$(corrected && echo yes || echo no)"

# Installing the package again (an upgrade) leaves the running service alone.
pid=$(main_pid)
dpkg -i "$DEB" > /results/reinstall.log 2>&1
expect "reinstalled, same service process" "0 $pid" "$? $(main_pid)"

# Removing the package removes the service with it; the state stays until the purge.
apt-get remove -y kairovel > /results/remove.log 2>&1
expect "removed" "0 deinstall ok config-files" "$? $(status)"
expect "the removal removed the service" "yes" "$(grep -q 'Service stopped and removed' /results/remove.log && echo yes || echo no)"
expect "nothing left" "" "$(ls -d "$unit" "$link" /run/kairovel /usr/sbin/kairovel 2>/dev/null)"
# shellcheck disable=SC2046 # the words joined by one blank
expect "no unit, no process" "not-found inactive" "$(echo $(systemctl show -p LoadState,ActiveState --value kairovel.service) $(pgrep -x kairovel))"
expect "state kept until the purge" "yes" "$([ -d /var/lib/kairovel ] && echo yes || echo no)"
dpkg --purge kairovel > /results/purge.log 2>&1
expect "purged" "0 gone" "$? $([ -e /var/lib/kairovel ] && echo kept || echo gone)"
exit "$failures"
