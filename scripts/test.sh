#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test headless inside a
# private D-Bus session with an unlocked gnome-keyring (the credential tests
# talk to a real Secret Service).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
bash scripts/build.sh

sandbox=$(mktemp -d -t orvalin-test.XXXXXX)
trap 'rm -rf "$sandbox"' EXIT
mkdir -m 0700 "$sandbox/run" "$sandbox/data" "$sandbox/config" "$sandbox/home"

export XDG_RUNTIME_DIR="$sandbox/run"
export XDG_DATA_HOME="$sandbox/data"
export XDG_CONFIG_HOME="$sandbox/config"
export HOME="$sandbox/home"
export QT_QPA_PLATFORM=offscreen
# With a display a locked keyring would pop up a password prompt and hang.
unset DISPLAY WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS

dbus-run-session -- bash -c '
    echo -n orvalin-test | gnome-keyring-daemon --unlock --components=secrets >/dev/null
    cd build && ctest --output-on-failure --timeout 180 --parallel 2
'
