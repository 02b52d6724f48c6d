#!/usr/bin/env bash
# Installs what is missing, builds, and makes the Debian package
# build/kestrum-sslvpn-client_1.6.0_amd64.deb.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
bash scripts/build.sh
cd build && cpack -G DEB
