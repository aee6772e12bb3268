#!/usr/bin/env bash
# install-deps must leave a machine's services as it found them. It runs here
# in a throwaway copy of this machine (an overlay of / on a tmpfs, in a
# private mount namespace: nothing reaches the real root), with two of its
# packages removed and an empty peer folder, so that it really installs and
# unpacks: first what the demonstration needs alone (--demonstration), then
# the rest. The services (scripts/service-snapshot: enabled and masked units,
# unit files, init scripts, cron jobs, policy-rc.d) must be the same before
# and after, no package may be gone, and the package check must tell a
# daemon's package from a plain one. Needs root and the package mirror.
# Usage: install_deps_leaves_services_alone.sh <checkout>
set -euo pipefail
checkout=$(cd "${1:?usage: $0 <checkout>}" && pwd)
[ "$(id -u)" -eq 0 ] || { echo "needs root"; exit 77; }

scratch=$(mktemp -d)
trap 'rm -rf --one-file-system "$scratch"' EXIT
unshare -m --propagation private bash -s "$scratch" "$checkout" <<'INSIDE'
set -euo pipefail
scratch=$1 checkout=$2
mount -t tmpfs tmpfs "$scratch"
mkdir "$scratch/upper" "$scratch/work" "$scratch/copy"
mount -t overlay overlay -o "lowerdir=/,upperdir=$scratch/upper,workdir=$scratch/work" "$scratch/copy"
mount -t proc proc "$scratch/copy/proc"
mount --rbind /sys "$scratch/copy/sys"
mount --rbind /dev "$scratch/copy/dev"
# The checkout at its own path, also where it lies on another file system than
# the root's (a separate /home, a tmpfs /tmp), which the overlay does not show.
mkdir -p "$scratch/copy$checkout"
mount --bind "$checkout" "$scratch/copy$checkout"
chroot "$scratch/copy" bash -s "$checkout" <<'COPY'
set -euo pipefail
checkout=$1
export KAIROVEL_PEERS=/var/tmp/kairovel-peers-check
rm -rf "$KAIROVEL_PEERS"
# Packages of install-deps' lists that are missing, so that apt-get runs:
# ninja-build of what the demonstration needs, rdate of the rest.
dpkg --purge rdate ninja-build > /dev/null
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
"$checkout/scripts/service-snapshot" > /tmp/services-before
dpkg-query -W -f='${Package}\n' | sort > /tmp/packages-before

# The demonstration's set (scripts/try) first, then the rest over it.
"$checkout/scripts/install-deps" --demonstration > /tmp/install-deps.log 2>&1 || { cat /tmp/install-deps.log; exit 1; }
failures=0
installed ninja-build && ! installed rdate && [ "$(cat "$KAIROVEL_PEERS/unpacked")" = chrony ] ||
  { echo "--demonstration did not install its set alone"; failures=$((failures + 1)); }
"$checkout/scripts/install-deps" > /tmp/install-deps.log 2>&1 || { cat /tmp/install-deps.log; exit 1; }

"$checkout/scripts/service-snapshot" > /tmp/services-after
dpkg-query -W -f='${Package}\n' | sort > /tmp/packages-after
if ! diff -u /tmp/services-before /tmp/services-after; then
  echo "install-deps changed the services above"; failures=$((failures + 1))
fi
removed=$(comm -23 /tmp/packages-before /tmp/packages-after)
[ -z "$removed" ] || { echo "install-deps removed: $removed"; failures=$((failures + 1)); }
installed rdate || { echo "rdate was not installed"; failures=$((failures + 1)); }
[ -x "$KAIROVEL_PEERS/root/usr/sbin/chronyd" ] || { echo "chronyd was not unpacked"; failures=$((failures + 1)); }
[ -x "$KAIROVEL_PEERS/root/usr/sbin/xinetd" ] || { echo "xinetd was not unpacked"; failures=$((failures + 1)); }
for deb in "$KAIROVEL_PEERS"/debs/chrony_*.deb "$KAIROVEL_PEERS"/debs/xinetd_*.deb; do
  "$checkout/scripts/ships-service" "$deb" || { echo "not seen as a service: $deb"; failures=$((failures + 1)); }
done
for deb in /var/cache/apt/archives/rdate_*.deb; do
  ! "$checkout/scripts/ships-service" "$deb" || { echo "seen as a service: $deb"; failures=$((failures + 1)); }
done
exit $failures
COPY
INSIDE
