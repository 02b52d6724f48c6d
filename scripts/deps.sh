#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need.
# Idempotent: apt is only touched when something is missing.
set -euo pipefail

packages=(
    cmake g++ ninja-build ccache
    qt6-base-dev qt6-websockets-dev qtkeychain-qt6-dev qt6-tools-dev qt6-l10n-tools qt6-tools-dev-tools
    libqt6svg6 qt6-qpa-plugins
    xvfb xauth fonts-wqy-microhei fonts-noto-color-emoji
    gnome-keyring dbus dbus-x11 libsecret-tools
    libssl-dev ca-certificates osslsigncode
    desktop-file-utils appstream lintian dpkg-dev file iproute2 hicolor-icon-theme
    g++-mingw-w64-x86-64-posix wine wine64
    clang-14 libclang-rt-14-dev clang-format-14
    # the real desktops (tests/desktop/): sway, waybar's tray and grim on
    # Wayland, GNOME Shell with the AppIndicator extension, trayer's XEmbed
    # tray on X11, the accessibility bus
    qt6-wayland sway waybar grim trayer xdotool x11-utils x11-apps
    gnome-shell gnome-shell-extension-appindicator
    at-spi2-core python3-pyatspi python3-dbus
)
# npm fetches a test fixture; Node.js distributions other than Debian's ship it
# inside their own nodejs package, which Debian's npm would conflict with.
command -v npm >/dev/null 2>&1 || packages+=(npm)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q '^install ok installed$'; then
        missing+=("$package")
    fi
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo_cmd=()
    [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
