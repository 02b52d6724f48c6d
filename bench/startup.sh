#!/usr/bin/env bash
# Start-up benchmark: builds (into build/ unless BUILD_DIR says otherwise) and
# runs bench_startup, which needs 127.0.0.1:6210 free. Extra arguments go to
# bench_startup (for example --runs 21).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
if [ "$build" = build ]; then
    bash scripts/build.sh
else
    cmake --build "$build" --target bench_startup
fi
exec "$build/bin/bench_startup" "$@"
