#!/usr/bin/env bash
# Formats every C++ source of the project with clang-format (.clang-format at
# the top). With --check it changes nothing and fails on the first file that
# is not formatted, printing the differences.
set -euo pipefail
cd "$(dirname "$0")/.."

formatter=$(command -v clang-format-14 || command -v clang-format || true)
if [ -z "$formatter" ]; then
    echo "format.sh: clang-format is not installed (scripts/deps.sh installs it)" >&2
    exit 1
fi

mapfile -t sources < <(git ls-files -- '*.cpp' '*.h')
if [ "${1:-}" = "--check" ]; then
    status=0
    for file in "${sources[@]}"; do
        if ! "$formatter" --style=file "$file" | diff -u --label "$file" --label "$file (formatted)" "$file" - ; then
            status=1
        fi
    done
    if [ $status -ne 0 ]; then
        echo "Some sources are not formatted: run scripts/format.sh" >&2
    fi
    exit $status
fi
"$formatter" --style=file -i "${sources[@]}"
