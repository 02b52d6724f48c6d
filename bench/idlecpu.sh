#!/usr/bin/env bash
# Idle CPU of a client that keeps trying to reach an absent agent: the client
# and, as the baseline, bench_floor (a Qt Widgets window that tried the agent
# once and then idles) run side by side for SECONDS (default 60) in a private
# network namespace where nothing listens on 127.0.0.1:6210. Prints the CPU
# share of each over the same minute and the ratio.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
build=${BUILD_DIR:-build}
if [ "$build" = build ]; then
    bash scripts/build.sh
else
    cmake --build "$build" --target KestrumSSLVPN bench_floor
fi
bin=$(cd "$build/bin" && pwd)
work=$(mktemp -d -t orvalin-idle.XXXXXX)
trap 'rm -rf "$work"' EXIT

cat >"$work/measure.sh" <<'MEASURE'
set -euo pipefail
bin=$1 work=$2 seconds=$3
ip link set lo up 2>/dev/null || true
ticks() { awk '{ sub(/^.*\) /, ""); print $12 + $13 }' "/proc/$1/stat"; }
mkdir -p "$work/home" "$work/config" "$work/tmp"
mkdir -m 0700 "$work/run"
# A runtime folder of its own: a client the user already runs would otherwise
# take this one for a second instance and end it.
export HOME="$work/home" XDG_CONFIG_HOME="$work/config" TMPDIR="$work/tmp" XDG_RUNTIME_DIR="$work/run"
export QT_QPA_PLATFORM=offscreen
"$bin/KestrumSSLVPN" 2>/dev/null & client=$!
"$bin/bench_floor" 2>/dev/null & floor=$!
# Past start-up and the client's first, quicker tries.
sleep 10
c0=$(ticks $client) f0=$(ticks $floor)
sleep "$seconds"
c1=$(ticks $client) f1=$(ticks $floor)
kill $client $floor 2>/dev/null || true
wait 2>/dev/null || true
hz=$(getconf CLK_TCK)
awk -v c=$((c1 - c0)) -v f=$((f1 - f0)) -v s="$seconds" -v hz="$hz" 'BEGIN {
    cp = 100 * c / hz / s; fp = 100 * f / hz / s
    printf "client retrying for %d s:  %.3f %% CPU (%d ticks)\n", s, cp, c
    printf "floor, idle for %d s:      %.3f %% CPU (%d ticks)\n", s, fp, f
    if (f > 0) printf "ratio client / floor:      %.1f\n", c / f
    else printf "ratio client / floor:      floor used no measurable CPU\n"
}'
MEASURE

if [ "$(id -u)" -eq 0 ]; then
    unshare -n bash "$work/measure.sh" "$bin" "$work" "$seconds"
else
    unshare -rn bash "$work/measure.sh" "$bin" "$work" "$seconds"
fi
