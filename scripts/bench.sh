#!/usr/bin/env bash
# Configures the tree when needed, builds it, and runs every benchmark: each
# executable file under <build>/bench whose name contains "bench"
# (bench_loger, bench_nimbrel_crypt, bench_setup_worker, oss_bench, storage-bench, ...). A new
# benchmark is picked up by its name alone; give it one that contains "bench".
#   scripts/bench.sh [build folder, default build]
set -euo pipefail
cd "$(dirname "$0")/.."

build="${1:-build}"

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
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
exit $status
