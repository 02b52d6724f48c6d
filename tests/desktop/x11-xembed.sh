#!/usr/bin/env bash
# The client on X11 with an XEmbed notification area (trayer under Xvfb, no
# StatusNotifierItem watcher on the bus, so Qt embeds its icon window). Checks
# that the icon is embedded in the tray once the session hides the window,
# that its picture follows the session, that its menu (opened with a right
# click, driven with the keys) offers the entries in order with only the
# fitting one of "连接网关" and "断开网关" enabled, that they disconnect,
# connect and quit, and that a second start brings the window back. Qt draws
# the tooltip of an XEmbed icon itself, so it is not read here; the Wayland
# session reads it from the StatusNotifierItem.
#   x11-xembed.sh BIN_DIR OUT_DIR
source "$(dirname "$0")/common.sh"

# The client's top-level window named by the title, shown or not.
# The main window mapped on the screen (the tray's icon window is small).
window_visible() {
    local window
    for window in $(xdotool search --onlyvisible --pid "$client_pid" 2>/dev/null); do
        [ "$(xwininfo -id "$window" | awk '/Width:/ {print $2}')" -gt 200 ] && return 0
    done
    return 1
}
# Hidden, not gone: the client still runs.
window_hidden() { ! client_gone && ! window_visible; }

# The client's window embedded in the tray: a window of the client whose
# ancestors include trayer's.
tray_window() {
    local tray_ids window parent
    tray_ids=$(xdotool search --class trayer 2>/dev/null | tr '\n' ' ')
    [ -n "$tray_ids" ] || return 1
    for window in $(xdotool search --pid "$client_pid" 2>/dev/null); do
        parent=$window
        while [ -n "$parent" ] && [ "$parent" != 0 ]; do
            parent=$(xwininfo -children -id "$parent" 2>/dev/null | awk '/Parent window id/ {print $4}')
            parent=$((parent))
            case " $tray_ids " in *" $parent "*)
                echo "$window"
                return 0
                ;;
            esac
            [ "$parent" != "$(xwininfo -root | awk '/Window id/ {print $4}' | xargs printf '%d')" ] || break
        done
    done
    return 1
}

icon_picture() { # the embedded icon's pixels, past xwd's header
    local window
    window=$(tray_window) || return 1
    xwd -silent -id "$window" | tail -c +200 | sha256sum | cut -d' ' -f1
}

picture_is() { [ "$(icon_picture)" = "$1" ]; }
picture_is_not() { [ "$(icon_picture)" != "$1" ]; }

# A right click on the icon opens the menu; keys pick an entry, as a user
# does: Down goes to the first enabled entry, Up wraps to the last.
menu_pick() { # KEY...
    local window
    window=$(tray_window)
    xdotool mousemove --window "$window" 8 8 click 3
    sleep 0.7
    [ $# -eq 0 ] || xdotool key "$@"
}

session_body() {
    local start=$SECONDS
    start_xvfb || return 1
    trayer --edge top --align right --widthtype request --height 24 --SetDockType false --transparent false \
        >"$out/trayer.log" 2>&1 &
    # trayer maps its panel once it manages the tray selection.
    check "trayer's panel is up" wait_for 10 bash -c 'xdotool search --classname "^panel$" >/dev/null'
    sleep 0.5
    log "Xvfb and trayer up in $((SECONDS - start)) s"

    write_profile false
    start_client client QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
    check "the automatic connection reached the agent" wait_for 20 sim_said "connect to vpn.example.com as zhang.san"
    check "the window hid into the tray" wait_for 10 window_hidden
    check "the icon is embedded in the XEmbed tray" wait_for 10 tray_window >/dev/null
    sleep 0.5
    local connected_icon
    connected_icon=$(icon_picture)

    menu_pick
    QT_QPA_PLATFORM=xcb "$client_bin/screengrab" "$out/x11-tray-menu.png" >/dev/null 2>&1 || true
    xdotool key Escape
    # Connected: "连接网关" is off, so Down lands on "断开网关".
    menu_pick Down Return
    check "断开网关 ended the session" wait_for 10 sim_said "session to vpn.example.com closed by the user"
    check "the icon's picture changed with the session" wait_for 10 picture_is_not "$connected_icon"
    # Disconnected: Down lands on "连接网关".
    menu_pick Down Return
    check "连接网关 connected again" \
        wait_for 10 bash -c "[ \$(grep -cF 'session up' '$sim_log') -ge 2 ]"
    check "the connected picture is back" wait_for 10 picture_is "$connected_icon"
    check "the window hid into the tray again" wait_for 10 window_hidden

    check "a second start ends by itself" \
        timeout 20 env QT_QPA_PLATFORM=xcb "$client_bin/KestrumSSLVPN" >"$out/second-start.log" 2>&1
    check "the second start brought the window back" wait_for 10 window_visible

    local before
    before=$(sim_count "closed by the user")
    # Up wraps to the last entry, "退出".
    menu_pick Up Return
    check "退出 ended the program" wait_for 10 client_gone
    check "quitting during a session disconnected it" \
        wait_for 5 bash -c "[ \$(grep -cF 'closed by the user' '$sim_log') -gt $before ]"
    log "session took $((SECONDS - start)) s"
}

session_main "$@"
