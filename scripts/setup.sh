#!/usr/bin/env bash
# Installs, with Debian's apt-get, whatever Tessel needs to build, run and test that this machine
# lacks. Does nothing (and asks no registry) when everything is already there.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config git
    qt6-base-dev qt6-base-dev-tools libgl-dev fonts-liberation
    libgtest-dev googletest
    clang libclang-rt-14-dev libfuzzer-14-dev
    xvfb xauth xdotool x11-utils imagemagick
    wine wine64
    util-linux coreutils procps
)

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
