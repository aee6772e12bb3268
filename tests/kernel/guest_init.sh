#!/bin/sh
# The init of the user-mode Linux guest in which the kernel-clock tests and the
# kernel benchmark run the program on a real kernel clock.
#
# The guest boots with the host's root as a read-only hostfs. This script first
# lays a tmpfs overlay over it, so that anything may write, and goes on inside
# it. There it brings up the network link to the host, mounts the host's result
# folder, starts the clock agent on the serial line the host measures the
# clock through, sets the clock's starting rate and error, runs the program
# for each pass and powers the guest off once the host tells the agent to quit.
#
# The case is a file of shell variables, named by KAIROVEL_GUEST_CASE on the
# kernel command line:
#   CLOCK_AGENT, KAIROVEL    the two programs
#   RESULTS                  host folder for the program's output (pass-N.out)
#   GUEST_ADDRESS, NTP_SERVER  the guest's address on its link, and the host's
#   START_TICK, START_FREQUENCY  adjtimex's values before the program starts
#   STEP_MILLISECONDS        the clock's error at the start (added to the time)
#   ARGUMENTS                the program's switches
#   PASSES, PAUSE_SECONDS    how many runs, and the pause after each (default 1, 0)
#   INTERRUPT_AFTER          if set: SIGINT that many seconds into the slew (which
#                            the program's trace, /trace=debug, tells the start of)
#   TIME_LIMIT               seconds after which the guest powers itself off
# Lines starting with "@@ " on the console tell the host where the case is.
set -u
export PATH=/usr/sbin:/usr/bin:/sbin:/bin

if [ "${1:-}" != inside ]; then
  mount -t proc proc /proc
  . "$KAIROVEL_GUEST_CASE"
  "$CLOCK_AGENT" load-module "/usr/lib/uml/modules/$(uname -r)/kernel/fs/overlayfs/overlay.ko"
  mount -t tmpfs -o mode=0755 tmpfs /mnt
  mkdir /mnt/upper /mnt/work /mnt/root
  mount -t overlay overlay -o lowerdir=/,upperdir=/mnt/upper,workdir=/mnt/work /mnt/root
  exec chroot /mnt/root /bin/sh "$0" inside
fi

power_off() {
  sync
  echo o > /proc/sysrq-trigger
  sleep 10
}

mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
. "$KAIROVEL_GUEST_CASE" || { echo "@@ failed: no case"; power_off; }
( sleep "$TIME_LIMIT"; echo "@@ failed: time limit"; power_off ) &

ip link set lo up
ip address add "$GUEST_ADDRESS" dev eth0
ip link set eth0 up
mkdir -p /results
mount -t hostfs -o "$RESULTS" hostfs /results
mkdir -m 0700 /run/kairovel
export KAIROVEL_ROOT=/run/kairovel KAIROVEL_CLOCK=system

"$CLOCK_AGENT" serve /dev/ttyS1 &
agent=$!
if ! "$CLOCK_AGENT" set-rate "$START_TICK" "$START_FREQUENCY" ||
   ! "$CLOCK_AGENT" step "$STEP_MILLISECONDS" ||
   ! "$CLOCK_AGENT" ntp-probe "$NTP_SERVER"; then
  echo "@@ failed: set-up"
  power_off
fi
echo "@@ ready"

pass=1
while [ "$pass" -le "${PASSES:-1}" ]; do
  output="/results/pass-$pass.out"
  echo "@@ start $pass"
  # A job started with & ignores SIGINT in a script; the program must see it as Ctrl+C.
  # shellcheck disable=SC2086 # ARGUMENTS is a list of switches
  env --default-signal=INT "$KAIROVEL" $ARGUMENTS > "$output" 2>&1 &
  program=$!
  if [ -n "${INTERRUPT_AFTER:-}" ]; then
    while kill -0 "$program" 2> /dev/null && ! grep -q "Started adjusting" "$output"; do sleep 0.05; done
    echo "@@ slewing $pass"
    sleep "$INTERRUPT_AFTER"
    echo "@@ interrupt $pass"
    kill -INT "$program"
  fi
  wait "$program"
  echo "@@ end $pass $?"
  sleep "${PAUSE_SECONDS:-0}"
  pass=$((pass + 1))
done

echo "@@ finished"
wait "$agent"
power_off
