#!/usr/bin/env bash
# Installs what is missing, builds, and starts Quorvid.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
quorvid_install_missing

cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVID_BUILD_BENCH=OFF -DQUORVID_BUILD_TESTS=OFF >/dev/null
cmake --build build-release -j "$(nproc 2>/dev/null || echo 2)"
exec ./build-release/ui/quorvid "$@"
