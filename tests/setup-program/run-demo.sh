#!/usr/bin/env bash
# Runs the README's demo command on the built tree, without a display, with stubs first
# on PATH for "pgrep", "pkill" and "sleep", so the self-delete script kills nothing.
# With "small-disk" the sandbox is a 256 MiB file system in a private mount namespace:
# Salvix Setup stops for want of space and the demo closes its error state.
#
#   run-demo.sh SOURCE_DIR BUILD_DIR SCRATCH [small-disk]
set -uo pipefail

source_dir=$1
build_dir=$2
scratch=$3
small_disk=${4:-}

rm -rf "$scratch"
mkdir -p "$scratch/stubs" "$scratch/sandbox"
stubs=$scratch/stubs
printf '#!/bin/sh\necho "$*" >> "$0.calls"\nexit 1\n' > "$stubs/pgrep"
printf '#!/bin/sh\necho "$*" >> "$0.calls"\nexit 0\n' > "$stubs/pkill"
printf '#!/bin/sh\nexit 0\n' > "$stubs/sleep"
chmod +x "$stubs"/*
export PATH=$stubs:$PATH
unset DISPLAY

demo=(bash "$source_dir/scripts/demo.sh" --no-build --build-dir "$build_dir" "$scratch/sandbox")

if [ -z "$small_disk" ]; then
    "${demo[@]}"
    status=$?
    [ "$status" -eq 0 ] || { echo "FAIL: the demo ended with $status" >&2; exit 1; }
    [ -s "$stubs/pgrep.calls" ] || { echo "FAIL: the self-delete script did not ask the stub pgrep" >&2; exit 1; }
    exit 0
fi

if ! unshare -m true 2> /dev/null; then
    echo "SKIP: no private mount namespace can be made here (it needs root)"
    exit 77
fi
# The picture goes out of the small file system before the namespace, and it, ends.
unshare -m bash -c '
    mount -t tmpfs -o size=256m tmpfs "$1" || exit 77
    sandbox=$1 out=$2
    shift 2
    "$@" > "$out/report" 2> "$out/errors"
    status=$?
    cp "$sandbox/window.png" "$out/" 2> /dev/null
    exit "$status"' small-disk "$scratch/sandbox" "$scratch" "${demo[@]}"
status=$?
if [ "$status" -eq 77 ]; then
    echo "SKIP: no small file system can be mounted here"
    exit 77
fi
cat "$scratch/report"
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
[ "$status" -eq 4 ] || fail "the demo ended with $status, expected 4 (the error state); stderr: $(cat "$scratch/errors")"
applications=$scratch/sandbox/root/Applications
for line in "Salvix Setup exit status: 0 (installed nothing)" \
    "Salvix Setup ended by: its close button" \
    "Installed: nothing in $applications" \
    "Salvix started: no" \
    "Salvix Setup bundle removed: no" \
    "Window as shown: $scratch/sandbox/window.png"; do
    grep -qxF -- "$line" "$scratch/report" || fail "no line \"$line\""
done
grep -qx "Error state: not enough space: $applications has [0-9]* MB free, needs 5 GiB free" "$scratch/report" \
    || fail "no line on the space"
# The picture shows the error state: the status text in plain red.
red=$(ffmpeg -loglevel error -i "$scratch/window.png" -f rawvideo -pix_fmt rgb24 - 2> /dev/null | python3 -c '
import sys
data = sys.stdin.buffer.read()
print(sum(1 for i in range(0, len(data) - 2, 3) if data[i] > 200 and data[i + 1] < 60 and data[i + 2] < 60))')
[ "${red:-0}" -gt 100 ] || fail "the window picture shows ${red:-no} red pixels"
[ "$failures" -eq 0 ]
