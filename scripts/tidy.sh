#!/usr/bin/env bash
# Runs clang-tidy (.clang-tidy at the top) on the program's own sources —
# app/, rpc/, store/, inventory/, ui/ and the Linux side of win32/ — with the
# compile commands of build/ (scripts/build.sh writes them). Fails on any
# finding. Arguments narrow it to some files.
set -euo pipefail
cd "$(dirname "$0")/.."

tidy=$(command -v clang-tidy-14 || command -v clang-tidy || true)
if [ -z "$tidy" ]; then
    echo "tidy.sh: clang-tidy is not installed (scripts/deps.sh installs it)" >&2
    exit 1
fi
if [ ! -s build/compile_commands.json ]; then
    echo "tidy.sh: build/compile_commands.json is missing: run scripts/build.sh first" >&2
    exit 1
fi

if [ $# -gt 0 ]; then
    sources=("$@")
else
    # Those this build compiles: the Windows sources are checked by their own
    # cross-compiling test.
    mapfile -t sources < <(git ls-files -- 'app/*.cpp' 'rpc/*.cpp' 'store/*.cpp' 'inventory/*.cpp' 'ui/*.cpp' \
        'win32/*.cpp' | while read -r file; do
        if grep -qF "\"file\": \"$PWD/$file\"" build/compile_commands.json; then echo "$file"; fi
    done)
fi

# The build's compiler (GCC) is C++17 by default, so CMake writes no standard
# flag; clang's default is older.
log=$(mktemp -t orvalin-tidy.XXXXXX)
trap 'rm -f "$log"' EXIT
status=0
printf '%s\n' "${sources[@]}" | xargs -P "$(nproc)" -n 2 "$tidy" -p build --quiet --extra-arg=-std=c++17 \
    >"$log" 2>/dev/null || status=$?
if [ $status -ne 0 ]; then
    cat "$log"
    echo "tidy.sh: clang-tidy found problems (above)" >&2
    exit 1
fi
echo "tidy.sh: ${#sources[@]} sources clean"
