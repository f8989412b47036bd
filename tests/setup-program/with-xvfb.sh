#!/usr/bin/env bash
# Runs a command on a virtual X display of its own. Xvfb picks a free display number
# itself, so runs in parallel never race for one.
set -euo pipefail

dir=$(mktemp -d -p "$PWD" xvfb.XXXXXX)
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$dir/display" 2>"$dir/xvfb.log" &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null || true; wait "$xvfb" 2>/dev/null || true; rm -rf "$dir"' EXIT

for _ in $(seq 1 200); do
    [ -s "$dir/display" ] && break
    kill -0 "$xvfb" 2>/dev/null || { cat "$dir/xvfb.log" >&2; exit 1; }
    sleep 0.05
done
[ -s "$dir/display" ] || { echo "with-xvfb.sh: Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$(head -n 1 "$dir/display")
"$@"
