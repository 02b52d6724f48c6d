#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test headless inside a
# private D-Bus session with an unlocked gnome-keyring (the credential tests
# talk to a real Secret Service).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
bash scripts/build.sh

# A real-world signed executable for the Authenticode test, fetched once into
# build/ rather than committed. If this fails the test says so.
snoretoast=build/fixtures/snoretoast-x64.exe
if [ ! -s "$snoretoast" ]; then
    fetch=$(mktemp -d -t orvalin-npm.XXXXXX)
    if (cd "$fetch" && npm pack --silent node-notifier@10.0.1 >/dev/null \
            && tar -xzf node-notifier-10.0.1.tgz package/vendor/snoreToast/snoretoast-x64.exe); then
        mkdir -p build/fixtures
        mv "$fetch/package/vendor/snoreToast/snoretoast-x64.exe" "$snoretoast"
    else
        echo "warning: could not fetch node-notifier@10.0.1 with npm; tst_authenticode will fail" >&2
    fi
    rm -rf "$fetch"
fi
export ORVALIN_SNORETOAST_EXE="$PWD/$snoretoast"

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
