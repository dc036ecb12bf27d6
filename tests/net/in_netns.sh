#!/bin/sh
# Runs a test program, and every server it starts, in a network namespace of its
# own, so that it may shape its loopback with tc (tbf) without touching the
# machine's. A process that already runs threads cannot move itself whole, so
# the program is started inside from the beginning.
set -u
if [ -z "${VELMAR_IN_NETNS:-}" ]; then
  export VELMAR_IN_NETNS=1
  if unshare -n true 2>/dev/null; then exec unshare -n -- "$0" "$@"; fi
  if unshare -rn true 2>/dev/null; then exec unshare -rn -- "$0" "$@"; fi
  echo "in_netns: cannot make a network namespace (unshare -n and unshare -rn both" \
       "failed); the shaped-link tests need root or user namespaces." >&2
  exit 1
fi
# A real link's packet size: tbf drops whole any packet larger than its burst, and
# the loopback's own 64 KiB packets are larger than a slow link's burst.
if ! ip link set lo up mtu 1500; then
  echo "in_netns: cannot bring up the namespace's loopback (ip link set lo up)." >&2
  exit 1
fi
if ! tc qdisc replace dev lo root tbf rate 1gbit burst 1mb limit 20mb; then
  echo "in_netns: tc cannot shape the loopback (tbf); the shaped-link tests need it." >&2
  exit 1
fi
tc qdisc del dev lo root
exec "$@"
