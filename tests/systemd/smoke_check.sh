#!/bin/sh
# Runs in a systemd guest as the test's command (systemd_smoke_test.cpp): what
# the later tests count on, one "name=value" line each, for the host to judge.
#   HOST_FILE    a file the host made in its /tmp; its content is "host"
#   UNIT_FILE    a unit file for the sandbox analysis, not installed
#   NTP_SERVER   the host's end of the link, where chronyd answers
set -u

# The boot is over (the command starts only then): its state and what failed.
echo "state=$(systemctl is-system-running)"
echo "failed=$(systemctl --failed --plain --no-legend | awk '{ print $1 }' | tr '\n' ' ')"

# The D-Bus system bus, and systemd on it, asked by root and by nobody.
echo "bus_id=$(busctl --system call org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus GetId)"
echo "user_query=$(setpriv --reuid=65534 --regid=65534 --clear-groups systemctl show -p ActiveState dbus.socket 2>&1)"
echo "user_version=$(setpriv --reuid=65534 --regid=65534 --clear-groups busctl --system get-property \
  org.freedesktop.systemd1 /org/freedesktop/systemd1 org.freedesktop.systemd1.Manager Version 2>&1)"

# The sandbox analysis of a unit file that is not installed.
echo "security=$(systemd-analyze security --offline=yes "$UNIT_FILE" 2>&1 | grep 'Overall exposure level')"

# /tmp keeps the host's files and takes the guest's.
echo "host_file=$(cat "$HOST_FILE" 2>&1)"
written=$(mktemp)
echo "tmp_writable=$(echo yes > "$written" && cat "$written")"

# The link to the host: an NTP exchange with its chronyd.
echo "ntp=$(ntpdig -t 2 "$NTP_SERVER" > /dev/null 2>&1 && echo answered || echo "no answer ($?)")"

# What the guest's memory holds with systemd, D-Bus and this script running.
echo "memory_used_mb=$(awk '/^MemTotal:/ { total = $2 } /^MemAvailable:/ { available = $2 }
  END { print int((total - available) / 1024) }' /proc/meminfo)"
