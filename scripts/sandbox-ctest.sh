#!/usr/bin/env bash
# Runs CTest on build/ inside the tests' private environment: temporary home
# and XDG folders, the offscreen platform, and a private D-Bus session with
# its own unlocked gnome-keyring (the credential tests talk to a real Secret
# Service, never to the user's own). Arguments go to ctest, for example
#   scripts/sandbox-ctest.sh -R tst_session
set -euo pipefail
cd "$(dirname "$0")/.."

sandbox=$(mktemp -d -t orvalin-test.XXXXXX)
trap 'rm -rf "$sandbox"' EXIT
mkdir -m 0700 "$sandbox/run" "$sandbox/data" "$sandbox/config" "$sandbox/home"

export XDG_RUNTIME_DIR="$sandbox/run"
export XDG_DATA_HOME="$sandbox/data"
export XDG_CONFIG_HOME="$sandbox/config"
export HOME="$sandbox/home"
export QT_QPA_PLATFORM=offscreen
# The real-world signed executable test.sh fetches for the Authenticode test.
export ORVALIN_SNORETOAST_EXE="${ORVALIN_SNORETOAST_EXE:-$PWD/build/fixtures/snoretoast-x64.exe}"
# With a display a locked keyring would pop up a password prompt and hang.
unset DISPLAY WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS

dbus-run-session -- bash -c '
    echo -n orvalin-test | gnome-keyring-daemon --unlock --components=secrets >/dev/null
    cd build && ctest --output-on-failure --timeout 180 "$@"
' ctest "$@"
