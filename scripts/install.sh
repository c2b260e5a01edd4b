#!/usr/bin/env bash
# Installs Velmorin for the current user, or removes it again, without root:
#   install.sh install PROGRAM_FOLDER ICON_FOLDER   (a built program folder, the sized icons)
#   install.sh uninstall
# AUTOSTART=0 leaves out the entry that starts the time signal at every login.
# A manifest in the installed folder lists every file, link and folder install made, with each
# file's checksum, so uninstall removes exactly those and an upgrade can tell a user's own WAV.
set -euo pipefail

data=${XDG_DATA_HOME:-$HOME/.local/share}
folder=$data/velmorin
exe=$folder/velmorin
manifest=$folder/.install-manifest
entries=()
declare -A installed_sum=()

# Ids of the copies running from the installed folder; after an upgrade a running copy's
# executable reads as " (deleted)". Glob characters in the path are escaped for -lname.
running() {
    local pattern
    # shellcheck disable=SC2001 # a bracket expression, which ${var//} cannot take portably
    pattern=$(sed 's/[][*?\\]/\\&/g' <<<"$exe")
    # A copy that shows a window runs as velmorin-ui. Processes that end meanwhile, or belong to
    # other users, cannot be read: no matter.
    { find /proc/[0-9]*/exe -maxdepth 0 \( -lname "$pattern" -o -lname "$pattern (deleted)" \
        -o -lname "$pattern-ui" -o -lname "$pattern-ui (deleted)" \) \
        -printf '%h\n' 2>/dev/null || true; } | cut -d/ -f3
}

sum() { sha256sum <"$1" | cut -d' ' -f1; }

# Makes a folder and its missing parents, noting each, parents first.
make_folder() {
    [ -d "$1" ] && return
    make_folder "$(dirname "$1")"
    mkdir "$1"
    entries+=("folder - $1")
}

# Puts DEST.new in place by a rename, never by writing into DEST, so a running copy keeps the
# file it has open intact.
place() {
    chmod "$2" "$1.new"
    mv -f "$1.new" "$1"
    entries+=("file $(sum "$1") $1")
}

put() {
    make_folder "$(dirname "$2")"
    cp "$1" "$2.new"
    place "$2" "$3"
}

# The desktop entry format wants the path quoted, with \ " ` $ escaped twice and % doubled.
exec_value() {
    local quoted=${1//\\/\\\\\\\\}
    quoted=${quoted//\"/\\\\\"}
    quoted=${quoted//\`/\\\\\`}
    quoted=${quoted//\$/\\\\\$}
    printf '"%s"' "${quoted//%/%%}"
}

# The menu entry ($2 = menu) also offers the settings window as a desktop action, which GNOME
# and KDE show on the launcher's context menu; the login entry only starts the time signal.
put_entry() {
    make_folder "$(dirname "$1")"
    {
        cat <<EOF
[Desktop Entry]
Type=Application
Name=Velmorin
Comment=Announces the hour
Exec=$(exec_value "$exe")
Icon=velmorin
Terminal=false
StartupNotify=false
Categories=Utility;Clock;
EOF
        if [ "${2:-}" = menu ]; then
            cat <<EOF
Actions=Settings;

[Desktop Action Settings]
Name=Settings
Exec=$(exec_value "$exe") --settings
EOF
        fi
    } >"$1.new"
    place "$1" 644
}

install() {
    local source=$1 icons=$2 file name kept=() size link=$HOME/.local/bin/velmorin
    [ -x "$source/velmorin" ] || { echo "No program in $source: build it first." >&2; exit 1; }
    # Folders an earlier install made stay on the list; the files are listed afresh.
    if [ -f "$manifest" ]; then
        while read -r kind checksum path; do
            case $kind in
            folder) [ -d "$path" ] && entries+=("folder - $path") ;;
            file) installed_sum[$path]=$checksum ;;
            esac
        done <"$manifest"
    fi
    make_folder "$folder"
    for file in "$source"/velmorin "$source"/velmorin-ui "$source"/velmorin-sound \
        "$source"/velmorin-tune.so "$source"/[0-9][0-9].WAV "$source"/QUARTER[1-3].WAV \
        "$source"/ABOUT.MID "$source"/velmorin.png; do
        name=${file##*/}
        target=$folder/$name
        # A WAV the user replaced since the last install stays; it is still listed, so
        # uninstall removes it with the rest.
        if [[ $name == *.WAV && -f $target ]] && [ "$(sum "$target")" != "${installed_sum[$target]:-}" ] &&
            ! cmp -s "$file" "$target"; then
            kept+=("$name")
            entries+=("file ${installed_sum[$target]:--} $target")
        else
            put "$file" "$target" "$([[ $name == velmorin* && $name != *.png ]] && echo 755 ||
                echo 644)"
        fi
    done
    for size in 16 32 48 64 128 256; do
        put "$icons/velmorin-$size.png" "$data/icons/hicolor/${size}x$size/apps/velmorin.png" 644
    done
    put_entry "$data/applications/velmorin.desktop" menu
    if [ "${AUTOSTART:-1}" != 0 ]; then
        put_entry "${XDG_CONFIG_HOME:-$HOME/.config}/autostart/velmorin.desktop"
    fi
    make_folder "$(dirname "$link")"
    ln -sfn "$exe" "$link.new"
    mv -Tf "$link.new" "$link"
    entries+=("link - $link")
    # A file the last install put down and this one did not (AUTOSTART=0 now) goes.
    local entry path
    declare -A listed=()
    for entry in "${entries[@]}"; do
        read -r _ _ path <<<"$entry"
        listed[$path]=1
    done
    for file in "${!installed_sum[@]}"; do
        [ -n "${listed[$file]:-}" ] || { rm -f "$file" && echo "Removed $file"; }
    done
    printf '%s\n' "${entries[@]}" >"$manifest.new"
    mv -f "$manifest.new" "$manifest"

    echo "Installed Velmorin in $folder (command: $link)."
    [ ${#kept[@]} -eq 0 ] || echo "Kept your own ${kept[*]}: changed since the last install."
    local login="it also starts at every login" later="starts at the next login, or with: velmorin"
    if [ "${AUTOSTART:-1}" = 0 ]; then
        login="it does not start at login (AUTOSTART=0): start it with velmorin or from the menu"
        later="does not start at login (AUTOSTART=0): start it with velmorin or from the menu"
    fi
    if [ -n "$(running)" ]; then
        echo "A copy already runs from $folder; the new version runs from its next start."
    elif [ -z "${DISPLAY:-}" ]; then
        echo "No display here: the time signal $later"
    else
        (cd / && setsid -f "$exe" </dev/null >/dev/null 2>&1)
        echo "Started the time signal; $login."
    fi
}

uninstall() {
    if [ ! -f "$manifest" ]; then
        echo "Velmorin is not installed in $folder: nothing to remove."
        return
    fi
    # Every copy of the installed program polls this file and ends when it reads Quit=1.
    printf '[Form]\r\nQuit=1\r\n' >"$folder/Velmorin.ini.new"
    mv -f "$folder/Velmorin.ini.new" "$folder/Velmorin.ini"
    for _ in $(seq 20); do
        [ -z "$(running)" ] && break
        sleep 0.1
    done
    # A copy busy in its About window reads the request only when the tune ends.
    local stuck
    mapfile -t stuck < <(running)
    if [ ${#stuck[@]} -gt 0 ]; then
        kill "${stuck[@]}" 2>/dev/null || true
        echo "Stopped process ${stuck[*]}, which had not ended on the quit request within 2 s."
    fi
    mapfile -t entries <"$manifest"
    rm -f "$folder"/.Velmorin.ini.*.tmp "$folder/Velmorin.ini"
    echo "Removed $folder/Velmorin.ini"
    # The manifest goes last, so an interrupted uninstall can be run again.
    local i kind checksum path
    for ((i = ${#entries[@]} - 1; i >= 0; i--)); do
        read -r kind checksum path <<<"${entries[i]}"
        [ "$path" = "$folder" ] && rm -f "$manifest"
        if [ "$kind" = folder ]; then
            rmdir "$path" 2>/dev/null && echo "Removed $path/" ||
                echo "Kept $path/: it holds files install did not put there."
        elif [ -e "$path" ] || [ -L "$path" ]; then
            rm -f "$path" && echo "Removed $path"
        fi
    done
    rm -f "$manifest"
    if [ -d "$folder" ] && rmdir "$folder" 2>/dev/null; then
        echo "Removed $folder/"
    fi
    # The running-copy lock and the records of copies that have ended, where the program keeps
    # them. A copy still running from another folder holds its own lock on each it uses, and
    # keeps them.
    local cache=${XDG_CACHE_HOME:-$HOME/.cache}/velmorin place file
    for place in "${XDG_RUNTIME_DIR:-}" "$cache"; do
        for file in "$place"/velmorin-*.copy "$place"/velmorin-*.window "$place"/velmorin.lock; do
            if [ -n "$place" ] && [ -f "$file" ] && flock -nx "$file" rm -f "$file"; then
                echo "Removed $file"
            fi
        done
    done
    if [ -d "$cache" ] && rmdir "$cache" 2>/dev/null; then
        echo "Removed $cache/"
    fi
}

case ${1:-} in
install) install "${2:?program folder}" "${3:?icon folder}" ;;
uninstall) uninstall ;;
*) echo "usage: $0 install PROGRAM_FOLDER ICON_FOLDER | uninstall" >&2; exit 2 ;;
esac
