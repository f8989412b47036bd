#!/usr/bin/env bash
# Runs Salvix Setup's whole job in a sandbox: installs the embedded Salvix into the
# sandbox's "/Applications", shows the progress window (on $DISPLAY, else on a virtual
# display), starts Salvix and removes the Salvix Setup bundle. Prints what happened.
#
#   scripts/demo.sh [--build-dir DIR] [--no-build] [--reuse] [SANDBOX]
#
# SANDBOX defaults to DIR/demo-sandbox and must be missing, empty or an earlier demo
# sandbox (marked by its .salvix-demo-sandbox file); it is made afresh unless --reuse is
# given, so a second run with --reuse shows the start beside an installed Salvix. DIR is
# configured (Ninja, RelWithDebInfo) only when it holds no configured tree. Nothing
# outside the sandbox and DIR is written. Exit status 0 when Salvix Setup ended with 0,
# Salvix was started and the Salvix Setup bundle removed; 2 for a usage error.
set -euo pipefail

source_dir=$(cd "$(dirname "$0")/.." && pwd)
build_dir=$source_dir/build
build=1
reuse=0
sandbox=""

usage() {
    echo "demo.sh: $1" >&2
    echo "usage: scripts/demo.sh [--build-dir DIR] [--no-build] [--reuse] [SANDBOX]" >&2
    exit 2
}

while [ "$#" -gt 0 ]; do
    case "$1" in
        --build-dir)
            [ "$#" -ge 2 ] && [ -n "$2" ] || usage "--build-dir needs a folder"
            build_dir=$(realpath -m -- "$2"); shift ;;
        --no-build) build=0 ;;
        --reuse) reuse=1 ;;
        -h|--help) sed -n '2,13s/^# \{0,1\}//p' "$0"; exit 0 ;;
        -*) usage "unknown option $1" ;;
        *)
            [ -z "$sandbox" ] || usage "one sandbox only, got $sandbox and $1"
            sandbox=$(realpath -m -- "$1") ;;
    esac
    shift
done

sandbox=${sandbox:-$build_dir/demo-sandbox}
marker=$sandbox/.salvix-demo-sandbox
# Only a folder this script made (or an empty one) is ever emptied or marked, with
# --reuse or without.
if [ -e "$sandbox" ] && [ ! -d "$sandbox" ]; then
    echo "demo.sh: $sandbox is not a folder; not touching it" >&2
    exit 2
fi
if [ -d "$sandbox" ] && [ -n "$(ls -A "$sandbox")" ] && [ ! -f "$marker" ]; then
    echo "demo.sh: $sandbox is not empty and not a demo sandbox; not touching it" >&2
    exit 2
fi

if [ "$build" -eq 1 ]; then
    # A tree configured already is built as it is, whatever its generator.
    if [ ! -f "$build_dir/CMakeCache.txt" ]; then
        cmake -S "$source_dir" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    fi
    cmake --build "$build_dir" --target SalvixSetup >/dev/null
fi
bundle=$build_dir/setup/Salvix\ Setup.app
if [ ! -x "$bundle/Contents/MacOS/Salvix Setup" ]; then
    echo "demo.sh: no built Salvix Setup in $build_dir (run without --no-build)" >&2
    exit 2
fi

mkdir -p "$sandbox"
if [ "$reuse" -eq 0 ]; then
    find "$sandbox" -mindepth 1 -delete
fi
touch "$marker"

root=$sandbox/root
home=$sandbox/home
user_folder="$home/Library/Application Support/com.quilm.salvix"
applications=$root/Applications
setup_app=$applications/Salvix\ Setup.app
setup_exe=$setup_app/Contents/MacOS/Salvix\ Setup
salvix_exe=$applications/Salvix.app/Contents/MacOS/Salvix
mkdir -p "$applications" "$root/tmp" "$home" "$sandbox/tmp"

# As a user would: the downloaded Salvix Setup.app placed in /Applications.
rm -rf "$setup_app"
cp -a "$bundle" "$applications/"

launches_file=$user_folder/salvix_launches.txt
launches_before=0
if [ -f "$launches_file" ]; then launches_before=$(wc -l < "$launches_file"); fi

export SALVIX_ROOT=$root HOME=$home TMPDIR=$sandbox/tmp
export PATH=$source_dir/platform/bin:$PATH
export SALVIX_STAY_SECONDS=${SALVIX_STAY_SECONDS:-3}
export XDG_RUNTIME_DIR=$sandbox/tmp/runtime
mkdir -p -m 0700 "$XDG_RUNTIME_DIR"

status=0
if [ -n "${DISPLAY:-}" ]; then
    echo "Running Salvix Setup on display $DISPLAY ..."
    "$setup_exe" || status=$?
else
    echo "Running Salvix Setup on a virtual display (no DISPLAY set) ..."
    # Nobody sees that display: a picture of the window, once it has been up a moment,
    # shows what the user would have seen.
    xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" bash -c '
        "$1" & program=$!
        for _ in $(seq 1 100); do
            window=$(xdotool search --name "^Salvix Engine\$" 2>/dev/null | head -n 1)
            if [ -n "$window" ]; then
                sleep 0.7
                eval "$(xdotool getwindowgeometry --shell "$window")"
                ffmpeg -loglevel error -y -f x11grab -draw_mouse 0 -video_size "${WIDTH}x${HEIGHT}" \
                    -i "$DISPLAY+$X,$Y" -frames:v 1 "$2" 2>/dev/null || true
                break
            fi
            sleep 0.1
        done
        wait "$program"' demo "$setup_exe" "$sandbox/window.png" || status=$?
fi

# The self-delete script runs on after the program; then the stand-in Salvix ends by itself.
script=$root/tmp/quilm_setup_selfdelete.sh
running() {
    for exe in /proc/[0-9]*/exe; do
        [ "$(readlink "$exe" 2>/dev/null)" = "$1" ] && return 0
    done
    return 1
}
for _ in $(seq 1 60); do
    if [ ! -e "$script" ] && ! running "$salvix_exe"; then break; fi
    sleep 1
done

version=$(sed -n '/CFBundleShortVersionString/{n;s/.*<string>\(.*\)<\/string>.*/\1/p}' \
    "$applications/Salvix.app/Contents/Info.plist" 2>/dev/null || true)
frames=$(find "$user_folder/image" -name '*.png' 2>/dev/null | wc -l)
started=""
if [ -f "$launches_file" ]; then started=$(tail -n +"$((launches_before + 1))" "$launches_file" | tr '\t' ' '); fi
if [ -d "$setup_app" ]; then removed=no; else removed=yes; fi
launch_log=$user_folder/quilm_lanuch_log.txt
if grep -q 'start unZipResourceFiles from' "$launch_log" 2>/dev/null; then
    job="installed the embedded Salvix"
else
    job="nothing to install"
fi

echo "Salvix Setup exit status: $status ($job)"
if [ -n "$version" ]; then
    echo "Installed: $applications/Salvix.app (version $version)"
else
    echo "Installed: nothing in $applications"
fi
echo "Animation frames: $frames PNG files in $user_folder/image"
if [ -n "$started" ]; then
    echo "Salvix started with: $started"
else
    echo "Salvix started: no"
fi
echo "Salvix Setup bundle removed: $removed"
echo "Launch log: $launch_log"
if [ -f "$sandbox/window.png" ]; then echo "Window as shown: $sandbox/window.png"; fi

[ "$status" -eq 0 ] && [ -n "$started" ] && [ "$removed" = yes ]
