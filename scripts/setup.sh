#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need, and only those that
# are missing, so that a machine already set up costs nothing.
set -euo pipefail

packages=(
    # build
    cmake make g++ pkg-config qt6-base-dev qt6-qpa-plugins libsdl2-dev libfluidsynth-dev
    libxcb1-dev libgtest-dev
    # run: the General MIDI soundfont for the About tune and a Japanese font for its text; the
    # commands that read the desktop's do-not-disturb; Qt's Wayland platform, as a Wayland
    # desktop has it (the window program still runs through XWayland there); the speech
    # synthesizer that says the hour
    timgm6mb-soundfont fonts-ipafont-gothic fontconfig dbus-bin libglib2.0-bin qt6-wayland
    espeak-ng espeak-ng-data
)
for flag in "$@"; do
    case "$flag" in
    --test)
        packages+=(xvfb xauth xdotool x11-utils faketime imagemagick sox python3 python3-mido
                   desktop-file-utils
                   # sudo, to see set-up refused by it as a user it does not list
                   sudo
                   # private sound servers that the tests hear the program through
                   pulseaudio pulseaudio-utils pipewire pipewire-pulse wireplumber
                   # a private session bus with notification servers (a stand-in, dunst, Xfce's
                   # and its settings daemon), GNOME's settings schemas
                   dbus-daemon python3-gi dunst xfce4-notifyd xfconf gsettings-desktop-schemas
                   # the window managers of real desktops, and a Wayland session with XWayland
                   openbox xfwm4 weston xwayland
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

# Root's commands run through sudo for a normal user; without sudo the user is told what to
# run as root.
as_root=()
if [ "$(id -u)" -ne 0 ]; then
    as_root=(sudo)
fi

# The wine tests run the program under a Japanese and a Western UTF-8 locale.
absent=()
if [[ " $* " == *" --windows "* ]]; then
    for l in en_US.UTF-8 ja_JP.UTF-8; do
        locale -a 2>/dev/null | grep -qix "${l/UTF-8/utf8}" || absent+=("$l")
    done
fi

# The lists above share some packages: each is looked up once.
declare -A seen=()
missing=()
for p in "${packages[@]}"; do
    [ -z "${seen[$p]:-}" ] || continue
    seen[$p]=1
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

# A user who cannot become root here is told, in one line, what to run as root instead.
say_run_as_root() {
    local steps=() command
    [ ${#missing[@]} -eq 0 ] ||
        steps+=("apt-get update && apt-get install -y --no-install-recommends ${missing[*]}")
    [ ${#absent[@]} -eq 0 ] ||
        steps+=("printf \"%s UTF-8\\n\" ${absent[*]} >>/etc/locale.gen && locale-gen")
    command=$(printf ' && %s' "${steps[@]}")
    echo "Setup needs root and $1: run su -c '${command:4}'$2, then run this again." >&2
    exit 1
}

# sudo's own words in what it said (standard input), first line and first clause: why it refused.
refusal() {
    local line
    line=$(grep -m1 -e '^sudo: ' -e '^Sorry, user ') || return 1
    line=${line#sudo: }
    echo "${line%%;*}"
}

if [ ${#as_root[@]} -gt 0 ] && [ $((${#missing[@]} + ${#absent[@]})) -gt 0 ]; then
    command -v sudo >/dev/null || say_run_as_root "there is no sudo" " (or install sudo)"
    # sudo tells without a prompt whether it will run anything for this user: a user it does
    # not list is refused at once, one it lists without a password passes, and one that needs
    # a password is asked for it below, on the terminal. Without one (a script, an IDE) it can
    # ask only through an askpass helper.
    if ! said=$(sudo -n -v 2>&1); then
        if [[ $said == *"may not run sudo"* ]]; then
            say_run_as_root "sudo refuses you ($(refusal <<<"$said"))" ""
        elif [ -z "${SUDO_ASKPASS:-}" ] && ! { : </dev/tty; } 2>/dev/null; then
            say_run_as_root "sudo needs your password, with no terminal to ask it on" ""
        fi
    fi
fi

if [ ${#missing[@]} -gt 0 ]; then
    # apt-get and dpkg say a great deal; it is kept in a log that is shown only on failure.
    log=$(mktemp -t velmorin-setup.XXXXXX)
    echo "Installing ${missing[*]} (apt-get's output: $log)"
    # sudo drops the environment, so the front end is set inside the command.
    apt=("${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -q -o Dpkg::Use-Pty=0)
    if ! { "${apt[@]}" update && "${apt[@]}" install -y --no-install-recommends "${missing[@]}"; } \
        >"$log" 2>&1; then
        # sudo refused before apt-get ran (no terminal to ask the password on, a wrong password,
        # a command it does not allow): the log holds only sudo's words.
        if [ ${#as_root[@]} -gt 0 ] && reason=$(refusal <"$log"); then
            rm -f "$log"
            say_run_as_root "sudo refuses you ($reason)" ""
        fi
        tail -n 20 "$log" >&2
        echo "Installing failed; the whole output is in $log" >&2
        exit 1
    fi
    rm -f "$log"
fi
for l in "${absent[@]}"; do
    "${as_root[@]}" sed -i "s/^# *\(${l} UTF-8\)/\1/" /etc/locale.gen
    grep -q "^${l} UTF-8" /etc/locale.gen ||
        echo "${l} UTF-8" | "${as_root[@]}" tee -a /etc/locale.gen >/dev/null
done
[ ${#absent[@]} -eq 0 ] || "${as_root[@]}" locale-gen >/dev/null
