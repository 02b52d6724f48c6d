# Shared by the desktop sessions (sourced). Each session script runs twice:
# as root it makes a private network namespace, so the simulator and the real
# client can have 127.0.0.1:6210 while other tests run, starts the simulator
# there and runs itself again ("inner") as an unprivileged account inside its
# own D-Bus session, with private HOME and XDG folders and an unlocked
# gnome-keyring holding the profile's password.
#
#   session_main BIN_DIR OUT_DIR [inner]   (the script's own arguments)
#
# It runs in a private mount namespace too; a script may define session_outer,
# run as root there before the switch.
#
# The session script defines session_body, run in the inner phase with
# $client_bin, $root, $out and $sim_log set; helpers below start and stop the
# client and wait for the simulator's log.

set -euo pipefail

desktop_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
probe() { /usr/bin/python3 "$desktop_dir/desktopprobe.py" "$@"; }

# The unprivileged account: sway refuses to run as root, and a desktop
# session is never root's.
session_uid=65534

log() { echo "[$(date +%T.%3N)] $*"; }

wait_for() { # SECONDS COMMAND...: polls every 0.2 s
    local seconds=$1
    shift
    local end=$((SECONDS + seconds))
    until "$@" 2>/dev/null; do
        [ $SECONDS -lt $end ] || return 1
        sleep 0.2
    done
}

sim_said() { grep -qF -- "$1" "$sim_log"; }
sim_count() { grep -cF -- "$1" "$sim_log" || true; }

# Settings and a profile as a user leaves them: autoLogin connects the last
# used profile once its password is read back from the keyring; "minimize"
# hides the window into the tray when the session is up.
write_profile() { # LOCAL(true|false)
    mkdir -p "$XDG_CONFIG_HOME/Orvalin"
    cat >"$XDG_CONFIG_HOME/Orvalin/config.json" <<EOF
{ "autoLogin": true, "minimize": true, "lastProfile": "office", "local": $1, "theme": "light" }
EOF
    cat >"$XDG_CONFIG_HOME/Orvalin/profile.json" <<EOF
{ "office": { "host": "vpn.example.com", "username": "zhang.san", "group": "staff" } }
EOF
    printf 'office-password' | secret-tool store --label=office server keychain.orvalin user office \
        type plaintext xdg:schema org.qt.keychain
    printf 'office-secret' | secret-tool store --label=office server keychain.orvalin.secret user office \
        type plaintext xdg:schema org.qt.keychain
}

client_pid=""
start_client() { # LOG_NAME [ENV=VALUE...]
    local name=$1
    shift
    env "$@" "$client_bin/KestrumSSLVPN" >"$out/$name.log" 2>&1 &
    client_pid=$!
    log "client started (pid $client_pid)"
}

client_gone() { ! kill -0 "$client_pid" 2>/dev/null; }

stop_client() {
    if [ -n "$client_pid" ] && kill -0 "$client_pid" 2>/dev/null; then
        kill "$client_pid" 2>/dev/null || true
        wait "$client_pid" 2>/dev/null || true
    fi
    client_pid=""
}

# Xvfb on the first free display (the socket folder is the session's own).
start_xvfb() {
    Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$HOME/display" >"$out/xvfb.log" 2>&1 &
    wait_for 10 test -s "$HOME/display" || {
        log "Xvfb did not start"
        return 1
    }
    export DISPLAY=":$(cat "$HOME/display")"
}

check() { # DESCRIPTION COMMAND...
    local what=$1
    shift
    if "$@"; then
        log "ok: $what"
    else
        log "FAILED: $what"
        return 1
    fi
}

session_main() {
    local bin=$1 out=$2 phase=${3:-outer}
    if [ "$phase" = outer ]; then
        if [ "$(id -u)" -ne 0 ]; then
            echo "the desktop sessions run as root: they make a network namespace and switch to uid $session_uid" >&2
            return 1
        fi
        if [ -z "${ORVALIN_NETNS:-}" ]; then
            ORVALIN_NETNS=1 exec unshare -n -m bash "$0" "$@"
        fi
        ip link set lo up
        # X servers' sockets of this session only: another session's X server
        # (Xvfb, or a compositor's Xwayland) that ends removes its socket file
        # by display number, which must not be ours.
        mkdir -p /tmp/.X11-unix
        mount -t tmpfs -o mode=1777 none /tmp/.X11-unix
        # A session may need more of the machine made its own (mounts, a
        # system bus); it runs as root inside the namespaces.
        if declare -F session_outer >/dev/null; then session_outer; fi
        rm -rf "$out"
        mkdir -p "$out"
        root=$(mktemp -d -t orvalin-desktop.XXXXXX)
        # The checkout may sit where the account cannot read (/root): the
        # scripts and the programs it runs are copied into the session's own
        # folder, and its pictures and logs copied back at the end.
        session_out=$out
        trap 'kill $(jobs -p) 2>/dev/null || true; wait 2>/dev/null || true; cp -r "$root/out/." "$session_out/" || true; rm -rf "$root"' EXIT
        mkdir -m 0700 "$root/home" "$root/run" "$root/config" "$root/data" "$root/tmp"
        mkdir "$root/out" "$root/bin" "$root/desktop"
        cp "$bin/KestrumSSLVPN" "$bin/screengrab" "$root/bin/"
        cp "$desktop_dir"/*.sh "$desktop_dir"/*.py "$root/desktop/"
        chown -R "$session_uid:$session_uid" "$root"
        chmod 0755 "$root" "$root/bin" "$root/desktop"
        # The simulator is the root-owned agent the client trusts.
        "$bin/tunwarden-sim" >"$root/out/simulator.log" 2>&1 &
        wait_for 10 bash -c '(exec 3<>/dev/tcp/127.0.0.1/6210)' || {
            echo "the simulator did not listen on 127.0.0.1:6210" >&2
            return 1
        }
        local status=0
        setpriv --reuid="$session_uid" --regid="$session_uid" --clear-groups \
            env -i PATH=/usr/local/bin:/usr/bin:/bin HOME="$root/home" XDG_RUNTIME_DIR="$root/run" \
            XDG_CONFIG_HOME="$root/config" XDG_DATA_HOME="$root/data" TMPDIR="$root/tmp" LANG=C.UTF-8 \
            dbus-run-session -- bash "$root/desktop/$(basename "$0")" "$root/bin" "$root/out" inner || status=$?
        return $status
    fi

    # Inner phase: the unprivileged account in its own D-Bus session.
    client_bin=$bin
    sim_log="$out/simulator.log"
    cd "$HOME"
    echo -n orvalin-desktop | gnome-keyring-daemon --unlock --components=secrets >/dev/null
    trap 'stop_client; kill $(jobs -p) 2>/dev/null || true; wait 2>/dev/null || true' EXIT
    session_body
}
