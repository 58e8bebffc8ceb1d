#!/usr/bin/env bash
# Installs, with Debian's apt-get, whatever Tessel needs to build, run and test that this machine
# lacks. Does nothing (and asks no registry) when everything is already there.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config git
    libssl-dev libjerasure-dev libgf-complete-dev libcli11-dev
    qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl-dev fonts-liberation
    libgtest-dev googletest
    clang libclang-rt-14-dev libfuzzer-14-dev
    xvfb xauth xdotool x11-utils imagemagick
    at-spi2-core python3-pyatspi dbus-daemon orca speech-dispatcher openbox
    wine wine64
    util-linux coreutils procps locales e2fsprogs fuse2fs dosfstools mtools
    librsvg2-bin dpkg-dev file desktop-file-utils appstream lintian shared-mime-info libglib2.0-bin strace
    python3
)

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -q
    $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# The batch file is run in Wine's cmd under a locale whose OEM code page is 850.
if ! locale -a 2>/dev/null | grep -qix 'en_GB.utf8'; then
    $sudo sed -i 's/^# *\(en_GB.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^en_GB.UTF-8 UTF-8' /etc/locale.gen || echo 'en_GB.UTF-8 UTF-8' | $sudo tee -a /etc/locale.gen >/dev/null
    $sudo locale-gen
fi
