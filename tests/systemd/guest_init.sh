#!/bin/sh
# The init of the user-mode Linux guests of the systemd stage: it boots a real
# systemd as the guest's PID 1, with the D-Bus system bus, and runs the test's
# command as a service of that systemd.
#
# The guest boots with the host's root as a read-only hostfs. This script lays
# a tmpfs overlay over it, with the systemd and D-Bus that scripts/install-deps
# unpacked (never installed) as the layer above the host's root, and moves the
# guest's root into it. There it gives the guest a unit set of its own, in the
# overlay alone: the unpacked packages' units and nothing of the host's (the
# units its packages ship or its administrator enabled, its init scripts, its
# fstab and generators), the guest's users (systemd-sysusers: messagebus,
# ...), a machine id, /tmp kept as the host has it (the build and the test's
# folders are there), the network link to the host, the host's result folder
# at /results, and two units: the clock agent on the serial line the host
# reads the guest's clocks through, and the test's command. Then it starts
# systemd with multi-user.target.
#
# The command's unit starts after multi-user.target, waits until the boot has
# finished, and runs the command as its main process (a root service, with
# the test's environment added to a unit's own), its standard output and
# error in /results/command.out. When the command has ended, the journal is
# written to /results/journal.txt and the guest powers off. So does the clock
# agent's end, when the host tells it to quit.
#
# The case is a file of shell variables, named by KAIROVEL_GUEST_CASE on the
# kernel command line:
#   CLOCK_AGENT      the clock agent (tests/kernel/clock_agent.cpp)
#   SYSTEMD_ROOT     the unpacked systemd and D-Bus, laid out for a merged /usr
#   RESULTS          host folder mounted at /results
#   GUEST_ADDRESS    the guest's address on its link (eth0)
#   ENVIRONMENT      NAME=VALUE words added to the command's environment, each in single quotes
#   COMMAND          the program and its arguments, each in single quotes
#   TIME_LIMIT       seconds after which the guest powers itself off
# Lines starting with "@@ " on the console tell the host where the case is:
#   "@@ systemd" (systemd starts), "@@ booted STATE" (the boot has finished,
#   STATE as systemctl is-system-running says), "@@ start", "@@ end CODE" (the
#   command's exit code, 128 + the signal that ended it), "@@ failed: ...".
set -u
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
script=$0

power_off() {
  sync
  echo o > /proc/sysrq-trigger
  sleep 10
}

# The host's root: the overlay, with systemd and D-Bus as its upper lower layer.
if [ "${1:-}" = "" ]; then
  mount -t proc proc /proc
  . "$KAIROVEL_GUEST_CASE"
  "$CLOCK_AGENT" load-module "/usr/lib/uml/modules/$(uname -r)/kernel/fs/overlayfs/overlay.ko"
  mount -t tmpfs -o mode=0755 tmpfs /mnt
  mkdir /mnt/upper /mnt/work /mnt/root /mnt/systemd
  # A hostfs of its own: a lower layer inside another is refused as overlapping.
  mount -r -t hostfs -o "$SYSTEMD_ROOT" hostfs /mnt/systemd
  mount -t overlay overlay -o lowerdir=/mnt/systemd:/,upperdir=/mnt/upper,workdir=/mnt/work /mnt/root
  # A root that is a mount of its own, not a chroot: systemd refuses some
  # work in a chroot, and the kernel refuses user namespaces there.
  mkdir /mnt/root/oldroot
  cd /mnt/root && pivot_root . oldroot
  exec /bin/sh "$script" inside
fi

# Inside the overlay: the guest's configuration, then systemd.
if [ "$1" = inside ]; then
  mount -t proc proc /proc
  mount -t sysfs sysfs /sys
  mount -t devtmpfs devtmpfs /dev
  exec < /dev/console > /dev/console 2>&1
  . "$KAIROVEL_GUEST_CASE" || { echo "@@ failed: no case"; power_off; }
  ( sleep "$TIME_LIMIT"; echo "@@ failed: time limit"; power_off ) &
  mkdir -p /results
  mount -t hostfs -o "$RESULTS" hostfs /results

  # systemd's folders hold what the unpacked packages put there and nothing
  # else: the units, generators and settings that the host's packages add
  # and the units its administrator enabled are taken out of the guest's view.
  (cd /oldroot/mnt/systemd && find usr/lib/systemd etc/systemd) | sort > /oldroot/mnt/unpacked
  (cd / && find usr/lib/systemd etc/systemd) | sort | comm -23 - /oldroot/mnt/unpacked |
    (cd / && xargs -r -d '\n' rm -rf)
  rm -rf /usr/local/lib/systemd
  umount -l /oldroot
  rmdir /oldroot
  mkdir -p /etc/systemd/system/multi-user.target.wants /etc/systemd/system/sysinit.target.wants \
           /etc/systemd/system-generators /etc/systemd/journald.conf.d /etc/tmpfiles.d
  # The host's init scripts and rc.local are none of the guest's business.
  ln -s /dev/null /etc/systemd/system-generators/systemd-sysv-generator
  ln -s /dev/null /etc/systemd/system-generators/systemd-rc-local-generator
  : > /etc/fstab
  # A guest of a host that runs in a container is no container itself.
  rm -f /.dockerenv /run/.containerenv
  # /tmp and /var/tmp keep what the host has there: tmp.conf would empty them at boot.
  : > /etc/tmpfiles.d/tmp.conf
  # A machine of its own that has booted before: an empty machine id is a
  # first boot, which would prompt on the console (systemd-firstboot).
  tr -d '-' < /proc/sys/kernel/random/uuid > /etc/machine-id
  printf '[Journal]\nStorage=volatile\n' > /etc/systemd/journald.conf.d/guest.conf
  # The guest kernel's modules, where systemd and kmod look for them.
  modules=/usr/lib/modules/$(uname -r)
  [ -e "$modules" ] || { mkdir -p /usr/lib/modules && ln -s "/usr/lib/uml/modules/$(uname -r)" "$modules"; }
  # The system users the packages' postinst would have made (messagebus, ...).
  systemd-sysusers || { echo "@@ failed: systemd-sysusers"; power_off; }
  ln -s /usr/lib/systemd/system/multi-user.target /etc/systemd/system/default.target

  cat > /etc/systemd/system/testbed-clock-agent.service <<EOF
[Unit]
Description=The host's clock agent on the serial line
DefaultDependencies=no
# The host tells the agent to quit when it is done with the guest.
SuccessAction=poweroff

[Service]
ExecStart=$CLOCK_AGENT serve /dev/ttyS1
EOF
  ln -s ../testbed-clock-agent.service /etc/systemd/system/sysinit.target.wants/
  cat > /etc/systemd/system/testbed-command.service <<EOF
[Unit]
Description=The test's command
After=multi-user.target

[Service]
Type=exec
ExecStart=/bin/sh "$script" command "$KAIROVEL_GUEST_CASE"
ExecStopPost=/bin/sh "$script" command-ended
StandardOutput=file:/results/command.out
StandardError=inherit
EOF
  ln -s ../testbed-command.service /etc/systemd/system/multi-user.target.wants/

  ip link set lo up
  ip address add "$GUEST_ADDRESS" dev eth0
  ip link set eth0 up

  echo "@@ systemd"
  exec /usr/lib/systemd/systemd
fi

# The command's unit: its main process becomes the command once the boot is over.
if [ "$1" = command ]; then
  . "$2"
  state=$(systemctl is-system-running --wait)
  echo "@@ booted $state" > /dev/console
  echo "@@ start" > /dev/console
  eval "exec env $ENVIRONMENT $COMMAND"
fi

# After the command: its exit code, the journal, and the power off.
if [ "$1" = command-ended ]; then
  exec > /dev/console 2>&1
  case "${EXIT_CODE:-}" in
    exited) code=$EXIT_STATUS ;;
    killed | dumped)  # EXIT_STATUS names the signal (TERM, ...)
      signal=1
      while [ "$signal" -lt 65 ] && [ "$(kill -l "$signal")" != "$EXIT_STATUS" ]; do signal=$((signal + 1)); done
      code=$((128 + signal)) ;;
    *) code=255 ;;
  esac
  echo "@@ end $code"
  journalctl -b --no-pager -o short-monotonic > /results/journal.txt 2>&1
  systemctl poweroff --no-block
fi
