#!/usr/bin/env bash
# Builds the tree with AddressSanitizer and UndefinedBehaviorSanitizer in its
# own folder and runs the tests that can run under them. The first error a
# sanitizer finds ends the test that met it.
#   scripts/sanitize.sh [build folder, default build-sanitize]
# SANITIZE_JOBS sets the parallel build and test jobs (default: all cores).
set -euo pipefail

usage() {
    echo "usage: scripts/sanitize.sh [build folder, default build-sanitize at the top of the tree]" >&2
    exit 2
}
[ $# -le 1 ] || usage
case "${1:-}" in -*) usage ;; esac
# A folder given is taken from where the user stands.
build="${1:+$(realpath -m -- "$1")}"
cd "$(dirname "$0")/.."
build="${build:-build-sanitize}"
jobs="${SANITIZE_JOBS:-$(nproc)}"
flags="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"

# Tests left out, each with its reason, which the run prints.
excluded=()
reasons=()
leave_out() {
    excluded+=("$1")
    reasons+=("$2")
}
leave_out build_default_generator \
    "it configures and builds the tree again from scratch with the default generator: a second full build, and it tests the build, not the code"
leave_out setup_privilege \
    "it starts copies of itself with the real and the effective user apart; such a process may not read its own /proc entries, which LeakSanitizer needs, so the child ends with LeakSanitizer's fatal error instead of its answer"

cmake -S "$(pwd)" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILM_BUILD_BENCH=OFF \
    -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
    -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=address,undefined" \
    -DCMAKE_MODULE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build "$build" -j"$jobs"

# halt_on_error is the default of ASan; UBSan stops through
# -fno-sanitize-recover=all. Both print where the error happened.
export ASAN_OPTIONS="halt_on_error=1:abort_on_error=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
# One suppression: libdbus (loaded by Qt's X11 platform plugin when Salvix Setup
# runs on a display) keeps a 1 KiB buffer that it never frees, and the stack of
# that allocation has no frame of ours. Every other leak still fails.
suppressions="$(cd "$build" && pwd)/lsan-suppressions.txt"
echo "leak:libdbus-1.so" >"$suppressions"
export LSAN_OPTIONS="suppressions=$suppressions"

for i in "${!excluded[@]}"; do
    echo "sanitize.sh: leaves out ${excluded[$i]}: ${reasons[$i]}"
done
exclude_regex="^($(IFS='|'; echo "${excluded[*]}"))\$"
ctest --test-dir "$build" --output-on-failure -j"$jobs" -E "$exclude_regex"
