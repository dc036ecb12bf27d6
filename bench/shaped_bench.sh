#!/bin/bash
# Builds and runs the shaped-link benchmark: our 20 MiB upload and download next
# to curl's over a loopback shaped with tc's tbf (40 Mbit/s unless told), on
# vsftpd and pyftpdlib, plain and TLS, inside a network namespace of its own.
# Needs root (vsftpd, unshare, tc) and the test account of
# scripts/setup-test-servers.sh.
# usage: bench/shaped_bench.sh [build-folder] [--size-mib N] [--rounds N] [--rate R] [--burst B]
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$here/build-shaped-bench}"
shift || true
# The benchmark shares the TLS tests' server and certificate helpers.
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DVELMAR_TESTS=ON "-DVELMAR_TEST_DIRS=tls;net" >/dev/null
ninja -C "$build" -j2 shaped_bench >/dev/null
exec "$here/tests/net/in_netns.sh" "$build/tests/net/shaped_bench" "$@"
