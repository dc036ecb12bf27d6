#!/bin/bash
# Builds and runs the TLS benchmark: our 1 GiB upload and download next to
# curl --ssl-reqd on one loopback vsftpd that requires TLS and session reuse.
# Needs root for vsftpd and the test account of scripts/setup-test-servers.sh.
# usage: bench/tls_bench.sh [build-folder] [--size-mib N] [--rounds N] [--curl-tls12]
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$here/build-tls-bench}"
shift || true
# The benchmark shares the TLS tests' server and certificate helpers.
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DVELMAR_TESTS=ON "-DVELMAR_TEST_DIRS=tls" >/dev/null
ninja -C "$build" -j2 tls_bench >/dev/null
exec "$build/tests/tls/tls_bench" "$@"
