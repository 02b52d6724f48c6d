#!/usr/bin/env bash
# Installs what is missing, builds, starts the agent simulator on 127.0.0.1:6210
# (unless something already listens there) and opens the client. Without a
# display the client runs under Xvfb and a screenshot is saved after a few seconds.
# Extra arguments go to the simulator (see tunwarden-sim --help).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/deps.sh
bash scripts/build.sh

sim_pid=""
cleanup() { [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true; }
trap cleanup EXIT

port_busy() { (exec 3<>/dev/tcp/127.0.0.1/6210) 2>/dev/null; }
if port_busy; then
    echo "Something already listens on 127.0.0.1:6210; using it as the agent."
else
    "$root/build/bin/tunwarden-sim" "$@" &
    sim_pid=$!
    for _ in $(seq 50); do port_busy && break; sleep 0.1; done
    echo "Agent simulator running (pid $sim_pid)."
fi

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    "$root/build/bin/KestrumSSLVPN"
else
    shot="$root/build/run-screenshot.png"
    echo "No display: running the client under Xvfb."
    xvfb-run -a -s "-screen 0 1280x900x24" bash -c '
        "$1" & client=$!
        "$3" "$2" 4000 || true
        wait $client
    ' _ "$root/build/bin/KestrumSSLVPN" "$shot" "$root/build/bin/screengrab" &
    echo "Screenshot after a few seconds: $shot (Ctrl+C ends the client)."
    wait
fi
