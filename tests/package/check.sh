#!/usr/bin/env bash
# Checks of the installed files and the Debian package, run by CTest.
#   check.sh desktop  <entry> <metainfo>       validate the menu entry and the AppStream data
#   check.sh build    <build dir> <out dir>    build the .deb once into <out dir>
#   check.sh contents <out dir> <expected>     the package holds exactly the expected files
#   check.sh lintian  <out dir>                lintian reports no errors or warnings
#   check.sh completion <completion file>      the bash completion offers the commands and their options
#   check.sh run      <out dir> <bin dir>      the unpacked client sends "config" to the simulator,
#                                              having removed a save copy left from before its start
#   check.sh menu     <out dir> <bin dir>      the unpacked entry finds its icon by id at every size
#                                              (and is drawn into <out dir>/menu-entry.png)
set -euo pipefail

deb() { echo "$1/kestrum-sslvpn-client_1.6.0_amd64.deb"; }

case "$1" in
desktop)
    desktop-file-validate "$2"
    appstreamcli validate --no-net --pedantic "$3"
    ;;
build)
    rm -rf "$3"
    cpack -G DEB -B "$3" --config "$2/CPackConfig.cmake"
    test -f "$(deb "$3")"
    dpkg-deb -I "$(deb "$3")"
    ;;
contents)
    dpkg-deb -c "$(deb "$2")" | awk '{print $6}' | sort >"$2/actual-files.txt"
    sort "$3" | diff -u - "$2/actual-files.txt"
    ;;
completion)
    # shellcheck disable=SC1090
    source "$2"
    complete_words() {
        COMP_WORDS=("$@")
        COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
        COMPREPLY=()
        _KestrumSSLVPN
        echo "${COMPREPLY[*]}"
    }
    check() {
        local got
        got=$(complete_words "${@:2}")
        [ "$got" = "$1" ] || { echo "completing '${*:2}': '$got', expected '$1'" >&2; exit 1; }
    }
    check "--disconnect" KestrumSSLVPN --dis
    check "--connect --disconnect --status --profiles --show --quit --help --version" KestrumSSLVPN ""
    check "--otp-stdin --wait" KestrumSSLVPN --connect office ""
    check "--wait" KestrumSSLVPN --disconnect ""
    check "--json" KestrumSSLVPN --status ""
    check "" KestrumSSLVPN --quit ""
    ;;
lintian)
    # Warnings too: the package has none (a missing manual page was one).
    lintian --fail-on error,warning --display-level '>=info' "$(deb "$2")"
    ;;
run)
    out=$2 bin=$3
    root=$(mktemp -d -t orvalin-deb.XXXXXX)
    trap 'rm -rf "$root"' EXIT
    dpkg-deb -x "$(deb "$out")" "$root/unpacked"
    mkdir -p "$root/home" "$root/config/Orvalin" "$root/tmp"
    # What a save cut short leaves behind, from before this start: removed.
    # A copy newer than the start and the older history file: kept.
    saved="$root/config/Orvalin"
    echo '{"office":{"password":"left over"}}' >"$saved/profile.json.AbCdEf"
    touch -d '1 hour ago' "$saved/profile.json.AbCdEf"
    echo '{}' >"$saved/config.json.Future"
    touch -d '1 hour' "$saved/config.json.Future"
    echo '{}' >"$saved/history.jsonl.1"
    touch -d '1 hour ago' "$saved/history.jsonl.1"
    # The client always talks to 127.0.0.1:6210. A private network namespace
    # gives this check its own loopback, so the port cannot be taken by a
    # simulator or client already running on the machine.
    cat >"$root/session.sh" <<SESSION
set -u
ip link set lo up 2>/dev/null || true
"$bin/tunwarden-sim" 2>"$root/sim.log" &
sim=\$!
for _ in \$(seq 100); do (exec 3<>/dev/tcp/127.0.0.1/6210) 2>/dev/null && break; sleep 0.1; done
HOME="$root/home" XDG_CONFIG_HOME="$root/config" TMPDIR="$root/tmp" QT_QPA_PLATFORM=offscreen \
    "$root/unpacked/usr/bin/KestrumSSLVPN" >"$root/client.log" 2>&1 &
client=\$!
ok=1
for _ in \$(seq 300); do
    if grep -q 'configured by kestrum-sslvpn Secure Client 1.6.0' "$root/sim.log"; then ok=0; break; fi
    kill -0 \$client 2>/dev/null || break
    sleep 0.1
done
kill \$client \$sim 2>/dev/null
wait
exit \$ok
SESSION
    if unshare -rn true 2>/dev/null; then
        runner=(unshare -rn bash "$root/session.sh")
    elif ! (exec 3<>/dev/tcp/127.0.0.1/6210) 2>/dev/null; then
        runner=(bash "$root/session.sh")
    else
        echo "no private network namespace and 127.0.0.1:6210 is taken: skipped"
        exit 77
    fi
    if "${runner[@]}"; then
        echo "the unpacked client configured the simulator:"
        grep 'configured by' "$root/sim.log"
        if [ -e "$saved/profile.json.AbCdEf" ] || [ ! -e "$saved/config.json.Future" ] \
            || [ ! -e "$saved/history.jsonl.1" ]; then
            echo "start-up did not remove exactly the old save copy:"
            ls -la "$saved"
            exit 1
        fi
        echo "the old save copy was removed, the newer one and the older history kept"
    else
        echo "the unpacked client sent no \"config\""
        echo "--- simulator"; cat "$root/sim.log"
        echo "--- client"; cat "$root/client.log"
        exit 1
    fi
    ;;
menu)
    root=$(mktemp -d -t orvalin-deb.XXXXXX)
    trap 'rm -rf "$root"' EXIT
    dpkg-deb -x "$(deb "$2")" "$root"
    QT_QPA_PLATFORM=offscreen "$3/orvalin-menuentry" "$root/usr/share" "$2/menu-entry.png"
    ;;
*)
    echo "unknown check: $1" >&2
    exit 2
    ;;
esac
