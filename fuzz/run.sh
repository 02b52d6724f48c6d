#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ and runs them.
#   fuzz/run.sh [TARGET|all] [SECONDS]
# TARGET is a name from fuzz/ without "fuzz_" (jsonrpc, settings, ...).
# New inputs are kept in build-fuzz/corpus/TARGET; the seeds in
# fuzz/corpus/TARGET are only read. A crash leaves its input in
# build-fuzz/crashes/TARGET.
set -euo pipefail
cd "$(dirname "$0")/.."

target=${1:-all}
seconds=${2:-60}
build=${ORVALIN_FUZZ_BUILD:-build-fuzz}

if [ ! -f "$build/build.ninja" ]; then
    CC=clang-14 CXX=clang++-14 cmake -S . -B "$build" -G Ninja -DORVALIN_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$build"

if [ "$target" = all ]; then
    targets=$(ls fuzz/fuzz_*.cpp | sed 's|fuzz/fuzz_||; s|\.cpp$||')
else
    targets=$target
fi

status=0
for name in $targets; do
    mkdir -p "$build/corpus/$name" "$build/crashes/$name"
    echo "== fuzz_$name for ${seconds}s"
    "$build/bin/fuzz_$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 -print_final_stats=1 \
        -artifact_prefix="$build/crashes/$name/" "$build/corpus/$name" "fuzz/corpus/$name" || status=1
done
exit $status
