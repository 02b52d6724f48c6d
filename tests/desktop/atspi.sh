#!/usr/bin/env bash
# The client as a screen reader meets it: Xvfb, the real accessibility bus
# (at-spi2-core) and pyatspi. In English and in Chinese: every control of
# every tab has a role and a name, the status card's name tells the state and
# follows the session, the status values are readable, and pressing Connect
# through AT-SPI's action interface sends "connect" to the agent.
#   atspi.sh BIN_DIR OUT_DIR
source "$(dirname "$0")/common.sh"

card_is() { [ "$(probe a11y-card "$client_pid")" = "$1" ]; }
value_is() { [ "$(probe a11y-text "$client_pid" "$1")" = "$2" ]; }

run_language() { # en|zh_CN
    local language=$1 local_setting=false lang=C.UTF-8
    local gateway=Gateway status=Status setting=Setting about=About
    local not_connected="Not connected" connected=Connected vpn_address="VPN Address"
    if [ "$language" = zh_CN ]; then
        local_setting=true lang=zh_CN.UTF-8
        gateway=网关 status=状态 setting=设置 about=帮助
        not_connected=未连接 connected=已连接 vpn_address="VPN 地址"
    fi
    write_profile "$local_setting"
    # This time the user connects: no automatic connection, the window stays.
    sed -i 's/"autoLogin": true, "minimize": true/"autoLogin": false, "minimize": false/' \
        "$XDG_CONFIG_HOME/Orvalin/config.json"
    start_client "client-$language" QT_QPA_PLATFORM=xcb LANG="$lang" QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
    check "$language: the card reads \"$not_connected\"" wait_for 20 card_is "$not_connected"
    check "$language: every control of every tab has a role and a name" \
        probe a11y-audit "$client_pid" "$status" 软件管理 "$setting" "$about" "$gateway"
    local connects
    connects=$(sim_count "connect to vpn.example.com as zhang.san")
    check "$language: Connect pressed through AT-SPI" probe a11y-press "$client_pid" 连接
    check "$language: the agent received \"connect\"" \
        wait_for 10 bash -c "[ \$(grep -cF 'connect to vpn.example.com as zhang.san' '$sim_log') -gt $connects ]"
    check "$language: the card reads \"$connected\"" wait_for 10 card_is "$connected"
    probe a11y-select-tab "$client_pid" "$status"
    sleep 1
    probe a11y-tree "$client_pid" >"$out/status-tree-$language.json"
    check "$language: the VPN address is readable by its title" wait_for 10 value_is "$vpn_address" 10.8.0.23 || {
        probe a11y-text "$client_pid" "$vpn_address"
        return 1
    }
    QT_QPA_PLATFORM=xcb "$client_bin/screengrab" "$out/atspi-$language.png" >/dev/null 2>&1 || true
    check "$language: the MTU is readable by its title" value_is MTU 1399
    # The card's own button, which stays in view on every tab.
    check "$language: 断开连接 pressed through AT-SPI" probe a11y-press "$client_pid" 断开连接
    check "$language: the agent ended the session" \
        wait_for 10 bash -c "[ \$(grep -cF 'closed by the user' '$sim_log') -ge $((connects + 1)) ]"
    check "$language: the card reads \"$not_connected\" again" wait_for 10 card_is "$not_connected"
    stop_client
}

session_body() {
    local start=$SECONDS
    start_xvfb || return 1
    run_language en
    run_language zh_CN
    log "session took $((SECONDS - start)) s"
}

session_main "$@"
