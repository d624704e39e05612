#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test (GUI tests run offscreen).
set -euo pipefail
cd "$(dirname "$0")"
tools/setup.sh
cd build
ctest --output-on-failure -j "$(nproc)"
