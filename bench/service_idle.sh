#!/bin/sh
# Runs as the command of a systemd guest (service_idle_bench.cpp): what the
# installed service costs while it keeps the clock, in wake-ups and CPU time,
# at a 10 s and an 8 h period, beside chronyd polling the same server every
# 8 s; and what one /immediate pass costs in sleeps.
#   KAIROVEL, CHRONYD   the two programs
#   NTP_SERVER          the host's end of the link, where chronyd answers
#   WINDOW              seconds each measurement lasts
# A wake-up is the return of a call that waits (a sleep, a wait for a socket,
# a lock or another thread), counted by strace over one window on every
# thread, those a pass starts and ends included; the CPU time is the
# process's (its ended threads' included) over a second window, without strace.
# Prints one line per subject: name, wake-ups per hour, CPU seconds per hour,
# NTP exchanges per hour.
set -u
ticks=$(getconf CLK_TCK)
waits=clock_nanosleep,nanosleep,poll,ppoll,select,pselect6,epoll_wait,epoll_pwait,recvfrom,recvmsg,accept,accept4,futex,wait4

# wakeups PID: the calls that waited, in one window
wakeups() {
  timeout -s INT "$WINDOW" strace -f -c -e trace="$waits" -o /run/strace.out -p "$1" 2> /dev/null
  awk '$1 ~ /^[0-9.]+$/ && NF >= 5 && $NF != "total" { s += $4 } END { print s + 0 }' \
    /run/strace.out
}
cpu_ticks() { awk '{ print $14 + $15 }' /proc/"$1"/stat; }

# measure NAME PID EXCHANGES_PER_HOUR
measure() {
  w=$(wakeups "$2")
  c0=$(cpu_ticks "$2")
  sleep "$WINDOW"
  c1=$(cpu_ticks "$2")
  awk -v n="$1" -v w="$w" -v c=$((c1 - c0)) -v t="$ticks" -v s="$WINDOW" -v x="$3" \
    'BEGIN { printf "%s %.0f %.2f %.0f\n", n, w * 3600 / s, c / t * 3600 / s, x }'
}

service_pid() { systemctl show -p MainPID --value kairovel.service; }
passes() { journalctl -o cat -u kairovel.service | grep -c "Corrected clock deviation"; }

# service SWITCHES NAME EXCHANGES_PER_HOUR: measured once its first pass has ended
service() {
  # shellcheck disable=SC2086 # SWITCHES is a list of switches
  "$KAIROVEL" /install /ntp_machine="$NTP_SERVER" $1 > /dev/null || exit 1
  before=$(passes)
  while [ "$(passes)" -le "$before" ]; do sleep 0.2; done
  measure "$2" "$(service_pid)" "$3"
  "$KAIROVEL" /remove > /dev/null
}

service /period=0:0:10 kairovel-10s 1800   # 360 passes of 5 samples
# The first pass steps: a slew would last half the period, at most 30 minutes.
service "/period=8:0:0 /adjust=no" kairovel-8h 1   # 3 passes of 5 samples a day: less than 1 an hour

# chronyd as a client only: no clock control (-x), no server or command port.
cat > /run/chrony-bench.conf << CONF
server $NTP_SERVER iburst minpoll 3 maxpoll 3
driftfile /run/chrony-bench.drift
pidfile /run/chrony-bench.pid
port 0
cmdport 0
CONF
"$CHRONYD" -d -x -u root -f /run/chrony-bench.conf > /run/chrony-bench.out 2>&1 &
chronyd=$!
sleep 20   # past its first exchanges (iburst)
if kill -0 "$chronyd" 2> /dev/null; then
  measure chronyd-8s "$chronyd" 450
  kill "$chronyd"
else
  echo "chronyd did not run:" >&2
  cat /run/chrony-bench.out >&2
fi

# One /immediate pass of 5 samples: its sleeps, when strace is there.
if command -v strace > /dev/null; then
  sleeps=$(strace -f -c -e trace=clock_nanosleep -o /run/strace.out \
    "$KAIROVEL" /immediate /ntp_machine="$NTP_SERVER" /adjust=no > /dev/null 2>&1;
    awk '$NF == "clock_nanosleep" { print $4 }' /run/strace.out)
  echo "immediate-sleeps ${sleeps:-0}"
fi
