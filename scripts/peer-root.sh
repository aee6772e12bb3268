# Sourced by the scripts (not run): where the peer daemons live.
#
# The daemons the tests and the demonstration talk to (chronyd, xinetd, smbd
# and samba-dcerpcd) are never installed on the machine: install-deps
# downloads their packages and unpacks them into a folder of this checkout,
# build/peers unless KAIROVEL_PEERS names another. Its root/ holds the
# unpacked files (root/usr/sbin/chronyd, ...); scripts/build hands that root
# to CMake, which builds it into the tests and benchmarks.
# Expects $root, the checkout.
kairovel_peers=${KAIROVEL_PEERS:-$root/build/peers}
kairovel_peer_root=$kairovel_peers/root
