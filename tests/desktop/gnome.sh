#!/usr/bin/env bash
# The client in GNOME: gnome-shell headless (Wayland, a virtual monitor) with
# the AppIndicator extension, which gives GNOME a StatusNotifierItem host.
# GNOME Shell wants the system bus and takes a /run/systemd/seats left on the
# machine for a running logind; the mount namespace gets an empty /run/systemd
# and a system bus of its own. GNOME offers no screenshot to other programs,
# so windows are seen through the accessibility bus. Checks that the item
# registers with the extension's watcher, that its tooltip, icon and menu
# follow the session, that a second start brings the hidden window back and
# that "退出" ends the program.
#   gnome.sh BIN_DIR OUT_DIR
source "$(dirname "$0")/common.sh"

session_outer() {
    if [ -d /run/systemd ]; then mount -t tmpfs none /run/systemd; fi
    mkdir -p /run/dbus
    mount -t tmpfs none /run/dbus
    dbus-daemon --system --fork --nopidfile
}

window_is() { [ "$(probe a11y-window "$client_pid")" = "$1" ]; }
tray_field() { probe tray "$client_pid" | /usr/bin/python3 -c "import json,sys; print(json.load(sys.stdin)['$1'])"; }
tray_field_is() { [ "$(tray_field "$1")" = "$2" ]; }
tray_menu() {
    probe tray "$client_pid" | /usr/bin/python3 -c '
import json, sys
print(" | ".join(e["label"] + ("" if e.get("enabled", True) else " (off)") for e in json.load(sys.stdin)["menu"]))'
}

session_body() {
    local start=$SECONDS
    gsettings set org.gnome.shell enabled-extensions "['ubuntu-appindicators@ubuntu.com']"
    gnome-shell --headless --virtual-monitor 1280x800 --wayland --no-x11 >"$out/gnome-shell.log" 2>&1 &
    check "the AppIndicator extension's watcher has a host" wait_for 60 probe tray-host 0
    export WAYLAND_DISPLAY=wayland-0
    log "gnome-shell up in $((SECONDS - start)) s"

    write_profile false
    start_client client QT_QPA_PLATFORM=wayland QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
    check "the automatic connection reached the agent" wait_for 20 sim_said "connect to vpn.example.com as zhang.san"
    check "the item registered with the watcher" probe tray-wait "$client_pid" 20
    # No notification service answers in this session: Qt shows the notice
    # on the item itself (its tooltip, and the item asks for attention) for
    # the message's ten seconds, then the item names the gateway again.
    check "the connected notice shows on the item" wait_for 10 tray_field_is tooltip "VPN connected"
    check "the connected item names the gateway" wait_for 20 tray_field_is tooltip "已连接到: vpn.example.com"
    local connected_icon
    connected_icon=$(tray_field iconPixmap)
    check "the menu lists the tray entries in order, connect off" \
        [ "$(tray_menu)" = "连接网关 (off) | 断开网关 | - | 显示面板 | - | 退出" ]
    check "the window hid into the tray" wait_for 10 window_is hidden

    probe tray-click "$client_pid" "断开网关"
    check "断开网关 ended the session" wait_for 10 sim_said "session to vpn.example.com closed by the user"
    check "the idle item is named after the program" wait_for 10 tray_field_is tooltip "Kestrum SSLVPN Client"
    check "the idle icon differs from the connected one" [ "$(tray_field iconPixmap)" != "$connected_icon" ]
    probe tray-click "$client_pid" "连接网关"
    check "连接网关 connected again" wait_for 10 tray_field_is tooltip "已连接到: vpn.example.com"
    check "the window hid into the tray again" wait_for 10 window_is hidden

    check "a second start ends by itself" \
        timeout 20 env QT_QPA_PLATFORM=wayland "$client_bin/KestrumSSLVPN" >"$out/second-start.log" 2>&1
    check "the second start brought the window back" wait_for 10 window_is visible

    local before
    before=$(sim_count "closed by the user")
    probe tray-click "$client_pid" "退出"
    check "退出 ended the program" wait_for 10 client_gone
    check "quitting during a session disconnected it" \
        wait_for 5 bash -c "[ \$(grep -cF 'closed by the user' '$sim_log') -gt $before ]"
    log "session took $((SECONDS - start)) s"
}

session_main "$@"
