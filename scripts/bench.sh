#!/usr/bin/env bash
# Configures the tree when needed, builds it, and runs every benchmark: each
# executable file under <build>/bench whose name contains "bench"
# (bench_loger, bench_nimbrel_crypt, bench_setup_worker, oss_bench, storage-bench, ...). A new
# benchmark is picked up by its name alone; give it one that contains "bench".
#   scripts/bench.sh [build folder, default build]
# A folder holding no configured tree is configured with Ninja as RelWithDebInfo; a
# configured one is built as it is. A relative folder is taken from the current folder.
set -euo pipefail

usage() {
    echo "bench.sh: $1" >&2
    echo "usage: scripts/bench.sh [build folder, default build]" >&2
    exit 2
}

source_dir=$(cd "$(dirname "$0")/.." && pwd)
case "${1:-}" in
    -h|--help) sed -n '2,8s/^# \{0,1\}//p' "$0"; exit 0 ;;
    -*) usage "unknown option $1" ;;
esac
[ "$#" -le 1 ] || usage "one build folder only"
if [ "$#" -eq 1 ]; then
    [ -n "$1" ] || usage "empty build folder"
    build=$(realpath -m -- "$1")
else
    build=$source_dir/build
fi

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$source_dir" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi

# The figures only mean something for an optimized program.
build_type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build/CMakeCache.txt")
unoptimized=""
case "$build_type" in
    Release|RelWithDebInfo|MinSizeRel) ;;
    *) unoptimized="bench.sh: $build is not optimized (CMAKE_BUILD_TYPE=\"$build_type\"); its figures are not the program's. Configure it with -DCMAKE_BUILD_TYPE=RelWithDebInfo." ;;
esac
if [ -n "$unoptimized" ]; then echo "$unoptimized" >&2; fi

cmake --build "$build"

mapfile -t benches < <(find "$build/bench" -type f -perm -u+x -name '*bench*' \
    -not -name '*.so' -not -name '*.so.*' -not -path '*/CMakeFiles/*' -not -path '*_autogen/*' | sort)
if [ "${#benches[@]}" -eq 0 ]; then
    echo "bench.sh: no benchmark under $build/bench" >&2
    exit 1
fi

status=0
for bench in "${benches[@]}"; do
    echo "== $(basename "$bench")"
    if ! "$bench"; then
        echo "== $(basename "$bench"): failed" >&2
        status=1
    fi
done
# Said again after the figures, where it is seen.
if [ -n "$unoptimized" ]; then echo "$unoptimized" >&2; fi
exit $status
