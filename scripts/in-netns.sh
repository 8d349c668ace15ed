#!/usr/bin/env bash
# Runs a command in a network namespace of its own whose only interface is loopback, so
# that nothing it sends can leave the machine. Where no namespace can be made (not root,
# no unshare), the command runs as it is: the loopback addresses of kest-env.sh still hold.
set -euo pipefail
if command -v unshare >/dev/null && command -v ip >/dev/null &&
   unshare -n true 2>/dev/null; then
    # Ephemeral ports (the local ports of connecting sockets) are moved above every fixed
    # port the tests listen on (all below 61000), so that a test's client socket can never
    # hold a port another test's emulator is about to bind. The range belongs to the
    # namespace; the host's is untouched.
    exec unshare -n -- bash -c 'ip link set lo up || exit 1
        { echo "61000 65535" >/proc/sys/net/ipv4/ip_local_port_range; } 2>/dev/null || true
        exec "$@"' bash "$@"
fi
echo "note: no private network namespace here; running on the host's loopback" >&2
exec "$@"
