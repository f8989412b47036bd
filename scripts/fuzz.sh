#!/usr/bin/env bash
# Builds libNimbrel's libFuzzer targets with clang (AddressSanitizer and
# UBSan) in build-fuzz/ (or $FUZZ_BUILD_DIR) and runs each for a bounded time.
#   scripts/fuzz.sh [seconds per target, default 60]
set -euo pipefail

usage() {
    echo "fuzz.sh: $1" >&2
    echo "usage: scripts/fuzz.sh [seconds per target, default 60]" >&2
    exit 2
}

source_dir=$(cd "$(dirname "$0")/.." && pwd)
case "${1:-}" in
    -h|--help) sed -n '2,4s/^# \{0,1\}//p' "$0"; exit 0 ;;
esac
[ "$#" -le 1 ] || usage "one number of seconds only"
seconds="${1:-60}"
# libFuzzer reads anything else, 0 among it, as no time limit.
[[ "$seconds" =~ ^[1-9][0-9]*$ ]] || usage "seconds must be a whole number above 0, not \"$seconds\""
build=$(realpath -m -- "${FUZZ_BUILD_DIR:-$source_dir/build-fuzz}")

if ! command -v clang++ >/dev/null; then
    echo "fuzz.sh: clang++ not found; install it with scripts/install-deps.sh" >&2
    exit 1
fi

cmake -S "$source_dir/fuzz" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j4

"$build/make_fuzz_seeds" "$build/seeds/fuzz_block_record_reader" "$build/seeds/fuzz_login_config_parser"

status=0
for target in fuzz_block_record_reader fuzz_login_config_parser; do
    corpus="$build/corpus/$target"
    artifacts="$build/artifacts/$target/"
    mkdir -p "$corpus" "$artifacts"
    echo "== $target: ${seconds}s"
    if ! "$build/$target" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$artifacts" \
            "$corpus" "$build/seeds/$target"; then
        echo "== $target: failure, see $artifacts" >&2
        status=1
    fi
done
exit $status
