#!/bin/bash
# Builds and runs the SFTP benchmark: our download and upload (1 GiB) next to
# OpenSSH's sftp on one loopback sshd (scripts/fetch-test-servers unpacks it).
# usage: bench/sftp_bench.sh [build-folder] [--size-mib N] [--rounds N]
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$here/build-bench}"
shift || true
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMAR_TESTS=OFF >/dev/null
fi
ninja -C "$build" -j2 sftp_bench >/dev/null
exec "$build/bench/sftp_bench" "$@"
