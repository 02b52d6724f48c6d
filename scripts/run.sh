#!/usr/bin/env bash
# Installs what is missing, builds, starts the agent simulator on 127.0.0.1:6210
# (unless something already listens there) and opens the client. Without a
# display the client runs under Xvfb and a screenshot is saved after a few seconds.
# Extra arguments go to the simulator (see tunwarden-sim --help), for example:
#   scripts/run.sh --drop-after 15                     # the link drops after 15 s; the client links again
#   scripts/run.sh --restart-after 20                  # the agent's service restarts 20 s in (3 s away);
#                                                      # the client links again and shows idle
#   scripts/run.sh --restart-after 20 --keep-sessions  # the same, but the tunnel stays up and the client
#                                                      # shows the running session again
# To see the client start before the agent, start the simulator by hand a few
# seconds after the client (build/bin/tunwarden-sim): the client keeps trying.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

for arg in "$@"; do
    case "$arg" in
    --port | --port=*)
        echo "run.sh: --port is not accepted: the client always connects to 127.0.0.1:6210." >&2
        exit 2
        ;;
    esac
done

bash scripts/deps.sh
bash scripts/build.sh

sim_pid=""
gui_pid=""
cleanup() {
    # The headless client runs in its own process group (with Xvfb): end all of it.
    if [ -n "$gui_pid" ]; then kill -TERM -- "-$gui_pid" 2>/dev/null || true; fi
    if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

port_busy() { (exec 3<>/dev/tcp/127.0.0.1/6210) 2>/dev/null; }
if port_busy; then
    echo "Something already listens on 127.0.0.1:6210; using it as the agent."
else
    "$root/build/bin/tunwarden-sim" "$@" &
    sim_pid=$!
    for _ in $(seq 50); do
        port_busy && break
        # It has already given up (a bad option, say) and said why on stderr.
        if ! kill -0 "$sim_pid" 2>/dev/null; then
            status=0
            wait "$sim_pid" || status=$?
            sim_pid=""
            echo "The agent simulator did not start (exit status $status)." >&2
            exit 1
        fi
        sleep 0.1
    done
    if ! port_busy; then
        echo "The agent simulator is not listening on 127.0.0.1:6210 after 5 s." >&2
        exit 1
    fi
    echo "Agent simulator running (pid $sim_pid)."
fi

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    "$root/build/bin/KestrumSSLVPN"
else
    shot="$root/build/run-screenshot.png"
    echo "No display: running the client under Xvfb."
    # A background job of this non-interactive shell would ignore Ctrl+C, so
    # it gets its own process group, which the clean-up ends.
    setsid xvfb-run -a -s "-screen 0 1280x900x24" bash -c '
        "$1" & client=$!
        "$3" "$2" 4000 || true
        wait $client
    ' _ "$root/build/bin/KestrumSSLVPN" "$shot" "$root/build/bin/screengrab" &
    gui_pid=$!
    echo "Screenshot after a few seconds: $shot (Ctrl+C ends the client)."
    wait "$gui_pid" || true
    gui_pid=""
fi
