#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need, and only those that
# are missing, so that a machine already set up costs nothing.
set -euo pipefail

packages=(
    # build
    cmake make g++ pkg-config qt6-base-dev qt6-qpa-plugins libsdl2-mixer-dev libfluidsynth-dev
    libgtest-dev
    # run: the General MIDI soundfont for the About tune and a Japanese font for its text
    timgm6mb-soundfont fonts-ipafont-gothic fontconfig
)
if [ "${1:-}" = "--test" ]; then
    packages+=(xvfb xauth xdotool x11-utils faketime imagemagick sox python3 desktop-file-utils
               # the sanitizer build and the fuzz targets: libFuzzer comes with Clang
               clang libclang-rt-14-dev)
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
