#!/usr/bin/env bash
# Installs what building and testing need on Debian or Ubuntu, then configures and
# builds into ./build. Safe to run again: installed packages are skipped and the
# build is incremental. Arguments name more packages to install.
set -euo pipefail
cd "$(dirname "$0")/.."

# clang and its runtime libraries build the fuzz targets (test.sh --fuzz); dpkg-dev and file
# build the .deb (CPack asks `file` about each installed binary); lintian checks it. xvfb and
# xauth give borvane_screenshot a display (xvfb-run) to take the window's picture on.
packages=(cmake make g++ ccache qt6-base-dev libqscintilla2-qt6-dev libzip-dev libgl-dev fonts-dejavu-core fonts-wine
    desktop-file-utils appstream dpkg-dev file lintian clang libclang-rt-dev xvfb xauth "$@")
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# ccache keeps the second build (and a later run) from compiling the same files again.
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER_LAUNCHER=ccache >/dev/null
cmake --build build -j "$(nproc)"
