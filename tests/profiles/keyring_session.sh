#!/bin/sh
# keyring_session.sh MODE PROGRAM [ARGS...]
# Runs PROGRAM on a session bus of its own where nothing starts on demand.
# MODE "unlocked": with a gnome-keyring-daemon whose login keyring is made and
# unlocked with a test password, its pid in VELMAR_KEYRING_PID. MODE "absent":
# with no Secret Service at all. The keyrings live in a temporary folder.
set -eu
if [ -z "${VELMAR_KEYRING_INNER:-}" ]; then
    export VELMAR_KEYRING_INNER=1
    exec dbus-run-session --config-file="$(dirname "$0")/session-bus.conf" -- "$0" "$@"
fi
mode=$1
shift
tmp=$(mktemp -d)
cleanup() {
    if [ -n "${VELMAR_KEYRING_PID:-}" ]; then
        kill -CONT "$VELMAR_KEYRING_PID" 2>/dev/null || true
        kill "$VELMAR_KEYRING_PID" 2>/dev/null || true
    fi
    rm -rf "$tmp"
}
trap cleanup EXIT
export HOME="$tmp" XDG_DATA_HOME="$tmp/data" XDG_RUNTIME_DIR="$tmp/run"
mkdir -m 700 "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR"
if [ "$mode" = unlocked ]; then
    printf 'velmar-test' | gnome-keyring-daemon --foreground --unlock --components=secrets \
        >/dev/null &
    export VELMAR_KEYRING_PID=$!
    # Up once it owns its name on the bus, within ten seconds.
    for _ in $(seq 100); do
        gdbus call --session --dest org.freedesktop.secrets --object-path /org/freedesktop/secrets \
            --method org.freedesktop.DBus.Peer.Ping >/dev/null 2>&1 && break
        sleep 0.1
    done
fi
"$@"
