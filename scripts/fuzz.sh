#!/usr/bin/env bash
# Builds libNimbrel's libFuzzer targets with clang (AddressSanitizer and
# UBSan) in build-fuzz/ and runs each for a bounded time.
#   scripts/fuzz.sh [seconds per target, default 60]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
build="${FUZZ_BUILD_DIR:-build-fuzz}"

if ! command -v clang++ >/dev/null; then
    echo "fuzz.sh: clang++ not found; install it with scripts/install-deps.sh" >&2
    exit 1
fi

cmake -S fuzz -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
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
