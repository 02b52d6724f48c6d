#!/usr/bin/env bash
# The client on Wayland: a headless sway with waybar's tray (a real
# StatusNotifierItem host), the client on Qt's wayland platform against the
# simulator. Checks that every tab renders (grim screenshots in OUT_DIR; the
# tabs are picked through the accessibility bus, for the headless output has
# no pointer), that
# the tray item registers with the watcher and its tooltip, icon and menu
# follow the session, that a second start brings the hidden window back and
# that "退出" in the tray menu ends the program.
#   sway.sh BIN_DIR OUT_DIR
source "$(dirname "$0")/common.sh"

swaymsg_tree() { swaymsg -t get_tree; }

# The client's window in sway's tree: "visible" or "hidden" (not in the tree).
window_state() {
    swaymsg_tree | /usr/bin/python3 -c '
import json, sys
pid = int(sys.argv[1])
def nodes(n):
    yield n
    for c in n.get("nodes", []) + n.get("floating_nodes", []):
        yield from nodes(c)
found = [n for n in nodes(json.load(sys.stdin)) if n.get("pid") == pid and n.get("type") in ("con", "floating_con")]
print("visible" if any(n.get("visible") for n in found) else "hidden")' "$client_pid"
}

window_is() { ! client_gone && [ "$(window_state)" = "$1" ]; }

tray_field() { probe tray "$client_pid" | /usr/bin/python3 -c "import json,sys; print(json.load(sys.stdin)['$1'])"; }
tray_menu() {
    probe tray "$client_pid" | /usr/bin/python3 -c '
import json, sys
print(" | ".join(e["label"] + ("" if e.get("enabled", True) else " (off)") for e in json.load(sys.stdin)["menu"]))'
}
tray_field_is() { [ "$(tray_field "$1")" = "$2" ]; }

shoot() { # NAME: the whole output, with the bar
    grim "$out/$1.png"
}

session_body() {
    export WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1
    cat >"$HOME/waybar.json" <<'EOF'
{ "layer": "top", "position": "top", "height": 28, "modules-right": ["tray"], "tray": { "icon-size": 18, "spacing": 6 } }
EOF
    cat >"$HOME/sway.conf" <<EOF
output HEADLESS-1 resolution 1280x800 background #3b4252 solid_color
default_border normal
xwayland disable
for_window [title="^Kestrum SSLVPN Client"] floating enable
exec waybar -c $HOME/waybar.json >$out/waybar.log 2>&1
EOF
    local start=$SECONDS
    sway -c "$HOME/sway.conf" >"$out/sway.log" 2>&1 &
    wait_for 20 bash -c 'ls "$XDG_RUNTIME_DIR"/sway-ipc.*.sock >/dev/null' || {
        log "sway did not start"
        cat "$out/sway.log"
        return 1
    }
    SWAYSOCK=$(ls "$XDG_RUNTIME_DIR"/sway-ipc.*.sock)
    export SWAYSOCK WAYLAND_DISPLAY=wayland-1
    # The watcher must be there before the client asks whether a tray exists.
    check "waybar's tray is the StatusNotifierWatcher with a host" wait_for 20 probe tray-host 0
    log "sway and waybar up in $((SECONDS - start)) s"

    write_profile false
    start_client client QT_QPA_PLATFORM=wayland QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
    # autoLogin connects once the password is read back; "minimize" then
    # hides the window and the icon appears in the tray.
    check "the automatic connection reached the agent" wait_for 20 sim_said "connect to vpn.example.com as zhang.san"
    check "the item registered with the watcher" probe tray-wait "$client_pid" 20
    # No notification service answers in this session: Qt shows the notice
    # on the item itself (its tooltip, and the item asks for attention) for
    # the message's ten seconds, then the item names the gateway again.
    check "the connected notice shows on the item" wait_for 10 tray_field_is tooltip "VPN connected"
    check "the connected item names the gateway" wait_for 20 tray_field_is tooltip "已连接到: vpn.example.com"
    local connected_icon
    connected_icon=$(tray_field iconPixmap)
    log "menu: $(tray_menu)"
    check "the menu lists the tray entries in order, connect off" \
        [ "$(tray_menu)" = "连接网关 (off) | 断开网关 | - | 显示面板 | - | 退出" ]
    check "the window hid into the tray" wait_for 10 window_is hidden

    # Back from the tray: every tab, picked through the accessibility bus.
    probe tray-click "$client_pid" "显示面板"
    check "显示面板 shows the window" wait_for 10 window_is visible
    local tab shots=()
    for tab in Gateway Status 软件管理 Setting About; do
        probe a11y-select-tab "$client_pid" "$tab"
        sleep 0.7
        shoot "wayland-$tab"
        shots+=("$(sha256sum <"$out/wayland-$tab.png")")
    done
    check "every tab rendered a picture of its own" \
        [ "$(printf '%s\n' "${shots[@]}" | sort -u | wc -l)" -eq 5 ]

    probe tray-click "$client_pid" "断开网关"
    check "断开网关 ended the session" wait_for 10 sim_said "session to vpn.example.com closed by the user"
    check "the idle item is named after the program" \
        wait_for 10 tray_field_is tooltip "Kestrum SSLVPN Client"
    check "the idle icon differs from the connected one" [ "$(tray_field iconPixmap)" != "$connected_icon" ]
    check "disconnected: connect on, disconnect off" \
        [ "$(tray_menu)" = "连接网关 | 断开网关 (off) | - | 显示面板 | - | 退出" ]

    probe tray-click "$client_pid" "连接网关"
    check "连接网关 connected again" wait_for 10 tray_field_is tooltip "已连接到: vpn.example.com"
    check "the connected icon is back" wait_for 5 tray_field_is iconPixmap "$connected_icon"
    check "the window hid into the tray again" wait_for 10 window_is hidden
    shoot "wayland-tray-connected"

    # A second start hands over to the running client and ends.
    local second_start=$SECONDS
    check "a second start ends by itself" \
        timeout 20 env QT_QPA_PLATFORM=wayland "$client_bin/KestrumSSLVPN" >"$out/second-start.log" 2>&1
    check "the second start brought the window back" wait_for 10 window_is visible
    log "second start took $((SECONDS - second_start)) s"
    shoot "wayland-second-start"

    local before
    before=$(sim_count "closed by the user")
    probe tray-click "$client_pid" "退出"
    check "退出 ended the program" wait_for 10 client_gone
    check "quitting during a session disconnected it" \
        wait_for 5 bash -c "[ \$(grep -cF 'closed by the user' '$sim_log') -gt $before ]"
    log "session took $((SECONDS - start)) s"
}

session_main "$@"
