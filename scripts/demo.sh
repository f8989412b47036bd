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
# outside the sandbox and DIR is written. When Salvix Setup shows its error state, the
# demo clicks its close button; a program that has not ended after SALVIX_DEMO_TIMEOUT
# seconds (default 900) is ended by its process id.
#
# Exit status: 0 when Salvix Setup ended with 0, Salvix was started and the Salvix Setup
# bundle removed; 1 when it ended without doing all of that; 2 for a usage error or a
# folder refused; 3 when another demo runs on the sandbox; 4 when Salvix Setup showed
# its error state; 5 when it did not end in time; 6 when it did not start.
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
        -h|--help) sed -n '2,19s/^# \{0,1\}//p' "$0"; exit 0 ;;
        -*) usage "unknown option $1" ;;
        *)
            [ -z "$sandbox" ] || usage "one sandbox only, got $sandbox and $1"
            sandbox=$(realpath -m -- "$1") ;;
    esac
    shift
done
timeout=${SALVIX_DEMO_TIMEOUT:-900}
case "$timeout" in
    '' | *[!0-9]* | 0) usage "SALVIX_DEMO_TIMEOUT must be a number of seconds, got '$timeout'" ;;
esac

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
# One demo at a time on a sandbox. The lock is on the folder itself, which a fresh run
# empties but keeps; the programs started below do not inherit it.
exec {lock}<"$sandbox"
if ! flock -n "$lock"; then
    echo "demo.sh: another demo runs on $sandbox; not touching it" >&2
    exit 3
fi
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
launch_log=$user_folder/quilm_lanuch_log.txt
run_files=$sandbox/tmp/demo
mkdir -p "$applications" "$root/tmp" "$home" "$run_files"

# As a user would: the downloaded Salvix Setup.app placed in /Applications.
rm -rf "$setup_app"
cp -a "$bundle" "$applications/"

launches_file=$user_folder/salvix_launches.txt
launches_before=0
if [ -f "$launches_file" ]; then launches_before=$(wc -l < "$launches_file"); fi

# The display's cookie, when only the user's own file holds it, stays reachable once
# HOME is the sandbox's.
if [ -z "${XAUTHORITY:-}" ] && [ -f "${HOME:-}/.Xauthority" ]; then
    export XAUTHORITY=$HOME/.Xauthority
fi
# TMPDIR goes to the program alone: xvfb-run cannot take a folder with a blank.
export SALVIX_ROOT=$root HOME=$home
export PATH=$source_dir/platform/bin:$PATH
export SALVIX_STAY_SECONDS=${SALVIX_STAY_SECONDS:-3}
export XDG_RUNTIME_DIR=$sandbox/tmp/runtime
mkdir -p -m 0700 "$XDG_RUNTIME_DIR"

# The script's own pauses use coreutils' sleep by its path: the search path handed on to
# the program may hold a stub "sleep" that returns at once.
pause() { /bin/sleep "$1"; }

# True while process $1 runs; a child that has ended stays a zombie until waited for.
running() {
    local stat
    read -r stat 2>/dev/null < "/proc/$1/stat" || return 1
    stat=${stat##*) }
    [ "${stat%% *}" != Z ]
}

# Waits up to $2 seconds for process $1 to end.
ends_within() {
    local rounds=$(($2 * 5))
    while running "$1"; do
        [ "$rounds" -gt 0 ] || return 1
        rounds=$((rounds - 1))
        pause 0.2
    done
}

# The status of the error state, once this run's launch log shows it.
error_status() {
    [ "$launch_log" -nt "$marker" ] || return 1
    local status
    status=$(sed -n 's/.*MainWindow::onSendToUpgradeStatus called, and status: \([0-9]*\).*/\1/p;T;q' "$launch_log")
    [ -n "$status" ] && echo "$status"
}

# The progress window of process $1 on $DISPLAY, once it is mapped.
find_window() {
    xdotool search --all --onlyvisible --pid "$1" --name '^Salvix Engine$' 2>/dev/null | head -n 1 || true
}

# Sets X, Y, WIDTH and HEIGHT to the place of window $1 on screen.
window_place() {
    local name value
    X="" Y="" WIDTH="" HEIGHT=""
    while IFS='=' read -r name value; do
        case "$name" in X | Y | WIDTH | HEIGHT) printf -v "$name" '%s' "$value" ;; esac
    done < <(xdotool getwindowgeometry --shell "$1" 2>/dev/null || true)
    [ -n "$WIDTH" ]
}

# Nobody sees a virtual display: a picture of the window shows what the user would have seen.
take_picture() {
    window_place "$1" || return 0
    ffmpeg -loglevel error -y -f x11grab -draw_mouse 0 -video_size "${WIDTH}x${HEIGHT}" \
        -i "$DISPLAY+$X,$Y" -frames:v 1 "$sandbox/window.png" 2>/dev/null || true
}

# Clicks the close button of the error state, at the same place in both layouts (the 4K
# one is twice the size of the 600-pixel wide normal one).
click_close() {
    window_place "$1" || return 0
    xdotool mousemove "$((X + WIDTH * 568 / 600))" "$((Y + WIDTH * 32 / 600))" click 1 2>/dev/null || true
}

# Follows Salvix Setup, process $1, on $DISPLAY until it ends; $2 is "picture" on a
# virtual display. Sets "ending" to how the program ended.
follow_program() {
    local program=$1 window="" phase=running deadline=$((SECONDS + timeout))
    ending=itself
    while running "$program"; do
        if [ -z "$window" ]; then
            window=$(find_window "$program")
            if [ -n "$window" ] && [ "$2" = picture ]; then
                pause 0.7
                take_picture "$window"
            fi
        fi
        if [ "$phase" = running ] && error_status >/dev/null; then
            # A moment for the red text, then as a user would: look, and close.
            pause 0.7
            window=$(find_window "$program")
            if [ -n "$window" ]; then
                if [ "$2" = picture ]; then take_picture "$window"; fi
                click_close "$window"
            fi
            phase=closing ending="its close button" deadline=$((SECONDS + 10))
        elif [ "$SECONDS" -ge "$deadline" ]; then
            case "$phase" in
                running)
                    if [ -n "$window" ] && [ "$2" = picture ]; then take_picture "$window"; fi
                    ending="its process id, after $timeout s without an end" ;;
                closing) ending="its process id, 10 s after its close button was clicked" ;;
                terminating) kill -KILL "$program" 2>/dev/null || true; phase=killed ;;
                killed) return 0 ;;
            esac
            if [ "$phase" = running ] || [ "$phase" = closing ]; then
                kill -TERM "$program" 2>/dev/null || true
                phase=terminating
            fi
            deadline=$((SECONDS + 5))
        fi
        pause 0.2
    done
}

program=""
ending=itself
# An interrupted demo ends the program it started; xvfb-run then ends its display.
trap '[ -z "$program" ] || kill -TERM "$program" 2>/dev/null; exit 130' INT TERM

status=""
display_failure=""
# The marker's time tells this run's launch log from an earlier one; a picture is this run's.
touch "$marker"
rm -f "$sandbox/window.png"
if [ -n "${DISPLAY:-}" ]; then
    echo "Running Salvix Setup on display $DISPLAY ..."
    TMPDIR=$sandbox/tmp "$setup_exe" {lock}<&- &
    program=$!
    follow_program "$program" no
    status=0
    wait "$program" || status=$?
else
    echo "Running Salvix Setup on a virtual display (no DISPLAY set) ..."
    # xvfb-run's own status would mix with the program's: the program's is written apart,
    # as are its process id and the display's name and cookie, for following it from here.
    xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" bash -c '
        TMPDIR=$2 "$1" &
        printf "%s\n" "$!" "$DISPLAY" "$XAUTHORITY" > "$3/program.new" && mv "$3/program.new" "$3/program"
        wait "$!"
        echo "$?" > "$3/status"' demo "$setup_exe" "$sandbox/tmp" "$run_files" {lock}<&- &
    xvfb=$!
    rounds=300
    while [ ! -f "$run_files/program" ] && running "$xvfb" && [ "$rounds" -gt 0 ]; do
        rounds=$((rounds - 1))
        pause 0.2
    done
    if [ -f "$run_files/program" ]; then
        { read -r program; read -r DISPLAY; read -r XAUTHORITY; } < "$run_files/program"
        export DISPLAY XAUTHORITY
        follow_program "$program" picture
    fi
    if ! ends_within "$xvfb" 30; then
        # A display that never came up: ending xvfb-run's own children lets it clean up.
        for child in $(cat /proc/"$xvfb"/task/*/children 2>/dev/null); do kill -TERM "$child" 2>/dev/null || true; done
        ends_within "$xvfb" 10 || kill -TERM "$xvfb" 2>/dev/null || true
    fi
    xvfb_status=0
    wait "$xvfb" || xvfb_status=$?
    if [ -f "$run_files/status" ]; then
        status=$(cat "$run_files/status")
    elif [ -z "$program" ]; then
        display_failure="the virtual display did not start: xvfb-run ended with $xvfb_status"
    else
        display_failure="xvfb-run ended with $xvfb_status before Salvix Setup did"
    fi
fi
trap - INT TERM

# The self-delete script runs on after the program; then the stand-in Salvix ends by itself.
script=$root/tmp/quilm_setup_selfdelete.sh
runs_from() {
    for exe in /proc/[0-9]*/exe; do
        [ "$exe" -ef "$1" ] && return 0
    done
    return 1
}
for _ in $(seq 1 60); do
    if [ ! -e "$script" ] && ! runs_from "$salvix_exe"; then break; fi
    pause 1
done

version=$(sed -n '/CFBundleShortVersionString/{n;s/.*<string>\(.*\)<\/string>.*/\1/p}' \
    "$applications/Salvix.app/Contents/Info.plist" 2>/dev/null || true)
frames=0
if [ -d "$user_folder/image" ]; then frames=$(find "$user_folder/image" -name '*.png' | wc -l); fi
started=""
if [ -f "$launches_file" ]; then started=$(tail -n +"$((launches_before + 1))" "$launches_file" | tr '\t' ' '); fi
if [ -d "$setup_app" ]; then removed=no; else removed=yes; fi
logged=no
if [ "$launch_log" -nt "$marker" ]; then logged=yes; fi
error=""
if [ "$logged" = yes ]; then error=$(error_status || true); fi

if [ -n "$display_failure" ]; then
    job=$display_failure
elif [ "$logged" = no ]; then
    job="it did not start: it wrote no launch log"
elif grep -q 'checkQuilmTolvaneRepeatRunning true from path' "$launch_log"; then
    job="another Salvix Setup runs from the same path"
elif grep -q 'checkQuilmTolvaneRepeatRunning main tool true from path' "$launch_log"; then
    job="Salvix runs already"
elif grep -q 'start unZipResourceFiles from' "$launch_log"; then
    job="installed the embedded Salvix"
elif [ -n "$error" ]; then
    job="installed nothing"
else
    job="nothing to install"
fi

echo "Salvix Setup exit status: ${status:-none} ($job)"
if [ -n "$error" ]; then
    case "$error" in
        1000)
            free=$(sed -n 's/.*Available S[a-z]*: \(-\{0,1\}[0-9]*\) MB.*/\1/p' "$launch_log" | tail -n 1)
            echo "Error state: not enough space: $applications has ${free:-an unknown number of} MB free, needs 5 GiB free" ;;
        1001) echo "Error state: the animation videos are missing in $applications/Salvix.app" ;;
        *) echo "Error state: status $error" ;;
    esac
fi
if [ "$ending" != itself ]; then echo "Salvix Setup ended by: $ending"; fi
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

if [ -n "$display_failure" ] || [ "$logged" = no ]; then exit 6; fi
if [ -n "$error" ]; then exit 4; fi
if [[ "$ending" == "its process id"* ]]; then exit 5; fi
[ "$status" -eq 0 ] && [ -n "$started" ] && [ "$removed" = yes ] || exit 1
