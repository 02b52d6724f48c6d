#!/usr/bin/env bash
# Builds the Win32 layer and its console checks with mingw-w64 and runs them
# under Wine on a fresh prefix: the signer of files signed here with a test
# CA, the process list, the user name, the owner of a file, the Run value
# (also as `reg` sees it) and the owner of a listening socket.
# Usage: run-wine.sh SOURCE_DIR
set -euo pipefail
src=$1
for tool in x86_64-w64-mingw32-g++-posix wine wineboot wineserver osslsigncode openssl; do
    command -v "$tool" >/dev/null || { echo "missing: $tool (scripts/deps.sh installs it)" >&2; exit 1; }
done

work=$(mktemp -d -t orvalin-wine.XXXXXX)
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
    wineserver -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
unset DISPLAY WAYLAND_DISPLAY

# The prefix starts while the program builds.
wineboot -i >/dev/null 2>&1 &
boot=$!

cxx=(x86_64-w64-mingw32-g++-posix)
command -v ccache >/dev/null && cxx=(ccache "${cxx[@]}")
"${cxx[@]}" -std=c++17 -O1 -Wall -Wextra -Werror -DUNICODE -D_UNICODE -static -municode \
    -I"$src/win32" "$src"/win32/*.cpp "$src/tests/win32/tst_win32api.cpp" \
    -o "$work/tst_win32api.exe" -lwintrust -lcrypt32 -liphlpapi -lws2_32 -ladvapi32

mkdir "$work/fixtures"
cp "$work/tst_win32api.exe" "$work/fixtures/unsigned64.exe"
cp "$work/tst_win32api.exe" "$work/fixtures/unsigned32.exe"
bash "$src/tests/authenticode/make-fixtures.sh" "$work/fixtures"

wait "$boot"
winpath() { printf 'Z:%s' "${1//\//\\}"; }
key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'

status=0
wine "$work/tst_win32api.exe" check "$(winpath "$work/fixtures")" "$(id -un)" || status=1

# The value the program left must be what the registry tools see.
query=$(wine reg query "$key" /v KestrumSSLVPN 2>&1 | tr -d '\r' || true)
expected='"C:\Program Files\Kestrum SSLVPN\KestrumSSLVPN.exe"'
if ! grep -qF "KestrumSSLVPN    REG_SZ    $expected" <<<"$query"; then
    echo "FAIL: reg query does not show the Run value:" >&2
    echo "$query" >&2
    status=1
fi
wine "$work/tst_win32api.exe" remove-run-value || status=1
if wine reg query "$key" /v KestrumSSLVPN 2>/dev/null | grep -q KestrumSSLVPN; then
    echo "FAIL: reg query still shows the Run value after removal" >&2
    status=1
fi
exit $status
