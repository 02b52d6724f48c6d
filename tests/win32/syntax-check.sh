#!/usr/bin/env bash
# Compiles every Qt-dependent Windows source (the *_win.cpp files, the headers
# they include, and the moc output of a header that declares a QObject) with
# the mingw-w64 compiler against this machine's Qt headers, so that code only
# a Windows build compiles still fails here when it breaks. Warnings count as
# errors, as in the real build.
# Usage: syntax-check.sh SOURCE_DIR QT_HEADERS_DIR MOC
set -euo pipefail
src=$1 qt=$2 moc=$3
cxx=x86_64-w64-mingw32-g++-posix
command -v "$cxx" >/dev/null || { echo "missing: $cxx (scripts/deps.sh installs it)" >&2; exit 1; }

flags=(-std=c++17 -fsyntax-only -DUNICODE -D_UNICODE -DNOMINMAX -Wall -Wextra -Wno-attributes -Werror
    # As the project's own targets compile.
    -DQT_DISABLE_DEPRECATED_UP_TO=0x060000 -DQT_NO_URL_CAST_FROM_STRING -DQT_NO_CAST_TO_ASCII
    -DQT_USE_QSTRINGBUILDER -DORVALIN_APP_ID='"com.kestrum.sslvpnclient"'
    -I"$qt")
for module in QtCore QtGui QtWidgets QtNetwork QtWebSockets QtConcurrent; do
    flags+=(-I"$qt/$module")
done
for dir in app rpc store inventory ui win32; do
    flags+=(-I"$src/$dir")
done

work=$(mktemp -d -t orvalin-wincheck.XXXXXX)
trap 'rm -rf "$work"' EXIT

mapfile -t sources < <(cd "$src" && find app rpc store inventory ui -name '*_win.cpp' | sort)
[ ${#sources[@]} -gt 0 ] || { echo "no Windows sources found under $src" >&2; exit 1; }
status=0
for source in "${sources[@]}"; do
    echo "$source"
    "$cxx" "${flags[@]}" "$src/$source" || status=1
    # The portable header beside it, when it declares a QObject, through moc.
    header="$src/${source%_win.cpp}.h"
    if [ -f "$header" ] && grep -q 'Q_OBJECT' "$header"; then
        out="$work/moc_$(basename "${header%.h}").cpp"
        "$moc" -I"$src/$(dirname "$source")" "$header" -o "$out"
        printf '#include "%s"\n#include "%s"\n' "$header" "$out" > "$work/check.cpp"
        "$cxx" "${flags[@]}" "$work/check.cpp" || status=1
    fi
done
exit $status
