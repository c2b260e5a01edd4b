#!/bin/sh
# Runs each fuzz target longer than make test does (default 60 s each) and prints its speed and
# total runs. Builds the targets with Clang, AddressSanitizer and UBSan into build-fuzz (or
# VELMORIN_BUILD). New inputs collect in the build folder's corpus and are kept between runs;
# a crash leaves its input there as crash-* and the script says so.
#
#     bench/fuzz.sh            # profile, mci, tune: 60 s each
#     bench/fuzz.sh 600 tune   # one target, ten minutes
set -eu
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$here/..
build=${VELMORIN_BUILD:-$source_dir/build-fuzz}
seconds=${1:-60}
[ $# -gt 0 ] && shift
targets=${*:-profile mci tune}

CC=clang CXX=clang++ cmake -S "$source_dir" -B "$build" -DCMAKE_BUILD_TYPE=Debug \
    -DVELMORIN_SANITIZE=ON >/dev/null
for target in $targets; do
    cmake --build "$build" -j2 --target "${target}_fuzz" >/dev/null
done

status=0
for target in $targets; do
    folder=$build/tests/fuzz
    corpus=$folder/corpus/$target
    log=$folder/$target-fuzz.log
    mkdir -p "$corpus"
    if (cd "$folder" && "./${target}_fuzz" -max_total_time="$seconds" -timeout=10 \
        -print_final_stats=1 "$corpus" "$source_dir/tests/fuzz/seeds/$target") >"$log" 2>&1; then
        result=ok
    else
        result="FAILED (see $log)"
        status=1
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    inputs=$(find "$corpus" -type f | wc -l)
    printf '%-8s %6s s  %10s runs  %8s exec/s  corpus %5s  %s\n' "$target" "$seconds" \
        "${runs:-?}" "${speed:-?}" "$inputs" "$result"
done
exit $status
