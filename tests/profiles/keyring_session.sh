#!/bin/sh
# keyring_session.sh MODE PROGRAM [ARGS...]
# Runs PROGRAM on a session bus of its own. MODE "unlocked": with a
# gnome-keyring-daemon whose login keyring is made and unlocked with a test
# password (its pid in VELMAR_KEYRING_PID). MODE "absent": no Secret Service at
# all. The keyrings live in a temporary folder, never in the user's.
set -eu
mode=$1
shift
here=$(cd "$(dirname "$0")" && pwd)
if [ -z "${VELMAR_KEYRING_INNER:-}" ]; then
    export VELMAR_KEYRING_INNER=1
    exec dbus-run-session --config-file="$here/session-bus.conf" -- "$0" "$mode" "$@"
fi

tmp=$(mktemp -d)
pid=
cleanup() {
    if [ -n "$pid" ]; then
        kill -CONT "$pid" 2>/dev/null || true
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    fi
    rm -rf "$tmp"
}
trap cleanup EXIT
export HOME="$tmp/home" XDG_DATA_HOME="$tmp/data" XDG_RUNTIME_DIR="$tmp/run"
mkdir -p "$HOME" "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

if [ "$mode" = unlocked ]; then
    printf 'velmar-test' | gnome-keyring-daemon --foreground --unlock --components=secrets \
        >/dev/null &
    pid=$!
    export VELMAR_KEYRING_PID="$pid"
    tries=0
    until gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
        --method org.freedesktop.DBus.NameHasOwner org.freedesktop.secrets 2>/dev/null |
        grep -q true; do
        tries=$((tries + 1))
        if [ "$tries" -gt 100 ]; then
            echo "gnome-keyring-daemon did not come up" >&2
            exit 1
        fi
        sleep 0.1
    done
fi
status=0
"$@" || status=$?
exit "$status"
