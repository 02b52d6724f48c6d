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

# The fuzz targets, built with clang and the sanitizers in their own folder,
# each run for a few seconds from its seed corpus.
CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -G Ninja -DORVALIN_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz --parallel "$(nproc)"
(cd build-fuzz && ctest --output-on-failure --timeout 120 --parallel 2)
