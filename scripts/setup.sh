#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need, and only those that
# are missing, so that a machine already set up costs nothing.
set -euo pipefail

packages=(
    # build
    cmake make g++ pkg-config qt6-base-dev qt6-qpa-plugins libsdl2-mixer-dev libfluidsynth-dev
    libgtest-dev libxcb1-dev
    # run: the General MIDI soundfont for the About tune and a Japanese font for its text; the
    # commands that read the desktop's do-not-disturb
    timgm6mb-soundfont fonts-ipafont-gothic fontconfig dbus-bin libglib2.0-bin
)
for flag in "$@"; do
    case "$flag" in
    --test)
        packages+=(xvfb xauth xdotool x11-utils faketime imagemagick sox python3 python3-mido
                   desktop-file-utils
                   # a private session bus with a notification server, GNOME's settings schemas
                   dbus-daemon python3-gi gsettings-desktop-schemas
                   # the sanitizer build and the fuzz targets: libFuzzer comes with Clang
                   clang libclang-rt-14-dev)
        ;;
    --windows)
        # The Windows build (cross compiler, icon and bitmap tools, CPack's zip, NSIS for the
        # installer) and its tests under wine (locales for the non-ASCII folder cases, pefile for
        # the version block, the IPA proportional gothic standing in for the About text's face, a
        # sound server whose null sink captures what wine plays).
        packages+=(g++-mingw-w64-x86-64-posix icoutils imagemagick zip nsis wine wine64 locales
                   python3 python3-pefile xvfb xauth x11-utils faketime fonts-ipafont-gothic
                   pulseaudio pulseaudio-utils)
        ;;
    esac
done

# The wine tests run the program under a Japanese and a Western UTF-8 locale.
ensure_locales() {
    local wanted=(en_US.UTF-8 ja_JP.UTF-8) absent=()
    for l in "${wanted[@]}"; do
        locale -a 2>/dev/null | grep -qix "${l/UTF-8/utf8}" || absent+=("$l")
    done
    [ ${#absent[@]} -eq 0 ] && return 0
    for l in "${absent[@]}"; do
        $sudo sed -i "s/^# *\(${l} UTF-8\)/\1/" /etc/locale.gen
        grep -q "^${l} UTF-8" /etc/locale.gen || echo "${l} UTF-8" | $sudo tee -a /etc/locale.gen >/dev/null
    done
    $sudo locale-gen >/dev/null
}

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -qq
    $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
case " $* " in *" --windows "*) ensure_locales ;; esac
