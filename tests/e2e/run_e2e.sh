#!/usr/bin/env bash
# Runs the end-to-end suite against the given velmar98 binary, on its own session
# bus. Screenshots of failures and the logs of the program and the servers go to
# the second argument (default: the current folder, the build folder under CTest).
# Further arguments go to velmar_e2e.py (e.g. --only first_start).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
program="$1"
out="${2:-$PWD}"
shift $(( $# >= 2 ? 2 : 1 ))
export PYTHONDONTWRITEBYTECODE=1
unset DBUS_SESSION_BUS_ADDRESS AT_SPI_BUS_ADDRESS
exec dbus-run-session -- /usr/bin/python3 -u "$here/velmar_e2e.py" \
  --program "$program" --out "$out" "$@"
