#!/bin/sh
# Builds the program and the free-running timer, then runs every benchmark in turn. A full run
# takes about twelve minutes. VELMORIN_BUILD names the build folder (default build-bench).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${VELMORIN_BUILD:-$here/../build-bench}
export VELMORIN_BUILD="$build"

cmake -S "$here/.." -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target velmorin free_timer map_watch >/dev/null

echo "== onset =="
python3 "$here/onset.py" "$@"
echo
echo "== quit propagation and start-up =="
python3 "$here/quit.py"
echo
echo "== resident cost =="
python3 "$here/resident.py"
echo
echo "== audible onset at a sound server =="
python3 "$here/audible.py"
echo
echo "== control window =="
python3 "$here/window.py"
