#!/usr/bin/env bash
# Configures and builds with CMake, quietly: progress on one line in a terminal, a few lines
# elsewhere, and the output only when the build fails. The whole output is kept in a log.
#   build.sh BUILD_FOLDER [CMAKE_OPTION...]    (JOBS: parallel jobs, all cores by default)
set -euo pipefail
cd "$(dirname "$0")/.."
folder=${1:?build folder}
shift
mkdir -p "$folder"
log=$folder/build.log

# A make above this one (make run) would have every sub-make say which folder it enters.
unset MAKEFLAGS MFLAGS MAKELEVEL
{ cmake -S . -B "$folder" "$@" && cmake --build "$folder" -j "${JOBS:-$(nproc)}"; } >"$log" 2>&1 &
build=$!

if [ -t 1 ]; then
    # CMake's Makefiles start each step with its share of the whole, as "[ 42%]".
    while kill -0 "$build" 2>/dev/null; do
        percent=$(tail -n 20 "$log" | grep -o '^\[ *[0-9]*%\]' | tail -n 1 | tr -dc 0-9) || true
        printf '\rBuilding %s/: %3d%%' "$folder" "${percent:-0}"
        sleep 0.2
    done
    printf '\r\033[K'
else
    echo "Building $folder/ (the whole output: $log)"
fi

if ! wait "$build"; then
    tail -n 40 "$log" >&2
    echo "The build failed; the whole output is in $log" >&2
    exit 1
fi
echo "Built $folder/Velmorin"
