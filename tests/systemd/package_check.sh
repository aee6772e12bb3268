#!/bin/sh
# Runs in a systemd guest as the test's command (package_on_systemd_test.cpp):
# the Debian package's life as a user lives it, one "name=value" line for each
# thing the host judges. The guest's root is the host's under a tmpfs
# overlay, so the package goes into the guest's copy of the dpkg database
# alone. Variables:
#   DEB          the package file
#   NTP_SERVER   the host's end of the link, where chronyd answers
set -u
export DEBIAN_FRONTEND=noninteractive
unit=/etc/systemd/system/kairovel.service
link=/etc/systemd/system/multi-user.target.wants/kairovel.service

# Polls a condition once a second, up to $1 seconds.
await() {
  limit=$1
  shift
  while ! "$@"; do
    limit=$((limit - 1))
    [ "$limit" -gt 0 ] || return 1
    sleep 1
  done
}
corrected() { journalctl -u kairovel -o cat --no-pager | grep -q 'Corrected clock deviation of '; }
now() { date +%s.%N; }
seconds_since() { echo "$1 $(now)" | awk '{ printf "%.1f", $2 - $1 }'; }

# Installing: the programs, the manual pages, and no service.
start=$(now)
apt-get install -y --no-install-recommends "$DEB" > /results/install.log 2>&1
echo "install=$?"
echo "install_seconds=$(seconds_since "$start")"
echo "status=$(dpkg-query -W -f '${Status}' kairovel 2>&1)"
echo "program=$(command -v kairovel) $(command -v kairovel-sc)"
echo "manual=$(man -w kairovel) $(man -w kairovel-sc)"
echo "manual_warnings=$(man --warnings kairovel 2>&1 > /dev/null)"
echo "unit_after_install=$([ -e "$unit" ] && echo present || echo none)"

# The service, created by the user, corrects the clock against the host's chronyd.
echo "service_install=$(kairovel /install "/ntp_machine=$NTP_SERVER" /period=0:0:10 2>&1)"
echo "exec_start=$(systemctl show -p ExecStart --value kairovel.service | sed -n 's/.*path=\([^ ;]*\).*/\1/p')"
start=$(now)
await 60 corrected && echo "corrected=yes" || echo "corrected=no"
echo "pass_seconds=$(seconds_since "$start")"
pid=$(systemctl show -p MainPID --value kairovel.service)

# Installing the package again (an upgrade) leaves the running service alone.
dpkg -i "$DEB" > /results/reinstall.log 2>&1
echo "reinstall=$?"
echo "pid_kept=$([ "$(systemctl show -p MainPID --value kairovel.service)" = "$pid" ] && echo yes || echo no)"

# Removing the package removes the service with it; the state stays until the purge.
apt-get remove -y kairovel > /results/remove.log 2>&1
echo "remove=$?"
echo "removed_output=$(grep -h 'kairovel\|Kairovel\|Service' /results/remove.log | tr '\n' '|')"
echo "status_after_remove=$(dpkg-query -W -f '${Status}' kairovel 2>&1)"
echo "left_after_remove=$(ls -d "$unit" "$link" /run/kairovel /usr/sbin/kairovel 2>/dev/null | tr '\n' ' ')"
echo "unit_state=$(systemctl show -p LoadState,ActiveState --value kairovel.service | tr '\n' ' ')"
echo "processes=$(pgrep -x kairovel | tr '\n' ' ')"
echo "state_after_remove=$([ -d /var/lib/kairovel ] && echo kept || echo gone)"
dpkg --purge kairovel > /results/purge.log 2>&1
echo "purge=$?"
echo "state_after_purge=$([ -e /var/lib/kairovel ] && echo kept || echo gone)"
echo "status_after_purge=$(dpkg-query -W -f '${Status}' kairovel 2>&1)"
