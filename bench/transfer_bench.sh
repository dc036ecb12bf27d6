#!/bin/bash
# Builds and runs the transfer benchmark: our copies next to curl (1 GiB up and
# down) and lftp (2,000 small files) on one loopback vsftpd. Needs root for vsftpd
# and the test account of scripts/setup-test-servers.sh.
# usage: bench/transfer_bench.sh [build-folder] [--size-mib N] [--rounds N]
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$here/build-bench}"
shift || true
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMAR_TESTS=OFF >/dev/null
fi
ninja -C "$build" -j2 transfer_bench >/dev/null
exec "$build/bench/transfer_bench" "$@"
