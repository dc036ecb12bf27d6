#!/bin/bash
# Builds and runs the stall benchmark: the interface thread's longest stall during
# each long FTP operation at full size. Needs root for vsftpd and the test account
# of scripts/setup-test-servers.sh, and about 3 GiB of free space in the
# temporary folder.
# usage: bench/stall_bench.sh [build-folder] [case ...]
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$here/build-bench}"
shift || true
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMAR_TESTS=OFF >/dev/null
fi
ninja -C "$build" -j2 stall_bench >/dev/null
exec "$build/bench/stall_bench" "$@"
