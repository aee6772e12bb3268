# Sourced by the scripts (not run): where the peer daemons live.
#
# The daemons the tests and the demonstration talk to (chronyd, xinetd, smbd
# and samba-dcerpcd) are never installed on the machine: install-deps
# downloads their packages and unpacks them into a folder of this checkout,
# build/peers unless KAIROVEL_PEERS names another. Its root/ holds the
# unpacked files (root/usr/sbin/chronyd, ...); scripts/build hands that root
# to CMake, which builds it into the tests and benchmarks.
#
# systemd and the D-Bus system bus that the systemd stage boots in its
# user-mode Linux guests are unpacked the same way into its systemd/ folder:
# systemd/root holds them laid out for a merged /usr (root/usr/lib/systemd/systemd,
# ...); the tests find it beside the peers' root.
# Expects $root, the checkout.
kairovel_peers=${KAIROVEL_PEERS:-$root/build/peers}
kairovel_peer_root=$kairovel_peers/root
kairovel_guest_systemd=$kairovel_peers/systemd
# lintian, which checks the Debian package, and the man it runs, are unpacked
# into its lintian/ folder (scripts/package runs lintian/root/usr/bin/lintian).
kairovel_lintian=$kairovel_peers/lintian
