#!/bin/bash
# Builds and runs the many-small-files benchmark: a folder of 200 files of 1 KiB
# in 8 subfolders, up and down, through our core and through lftp's mirror
# (sequential and --parallel=4), on one delay server (bench/delay_server.py) at
# 40 ms and at 0 ms. Needs lftp and python3-pyftpdlib (scripts/common.sh).
# usage: bench/parallel_bench.sh [build-folder] [--delays 40,0] [--files N] [--transfers N]
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$here/build-bench}"
shift || true
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMAR_TESTS=OFF >/dev/null
fi
ninja -C "$build" -j2 parallel_bench >/dev/null
exec "$build/bench/parallel_bench" "$@"
