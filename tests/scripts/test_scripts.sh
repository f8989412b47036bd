#!/usr/bin/env bash
# Runs the scripts in scripts/ as a user would, from a scratch folder, with stubs first
# on PATH that record each call: "cmake" builds the small trees made here with the real
# cmake and refuses anything else, so no test configures or builds the real tree;
# "xvfb-run" and "clang++" fail.
#
#   test_scripts.sh SOURCE_DIR BUILD_DIR SCRATCH sandbox|usage|trees
set -uo pipefail

source_dir=$(cd "$1" && pwd)
build_dir=$2
scratch=$3
case_name=$4
failures=0

rm -rf "$scratch"
mkdir -p "$scratch/stubs" "$scratch/user"
scratch=$(cd "$scratch" && pwd -P)
user=$scratch/user
calls=$scratch/calls
: > "$calls"
real_cmake=$(command -v cmake)
cat > "$scratch/stubs/cmake" <<STUB
#!/usr/bin/env bash
echo "cmake \$*" >> "$calls"
if [ "\$1" = --build ] && [[ "\$2" == "$scratch"/* ]]; then exec "$real_cmake" "\$@"; fi
echo "cmake stub: builds only the test's own trees" >&2
exit 1
STUB
for stub in xvfb-run clang++; do
    printf '#!/usr/bin/env bash\necho "%s $*" >> "%s"\nexit 1\n' "$stub" "$calls" > "$scratch/stubs/$stub"
done
chmod +x "$scratch"/stubs/*
export PATH=$scratch/stubs:$PATH
unset DISPLAY FUZZ_BUILD_DIR

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# run SCRIPT ARGS...: runs scripts/SCRIPT from the user's folder; sets status, out, err.
run() {
    local script=$1
    shift
    status=0
    (cd "$user" && bash "$source_dir/scripts/$script" "$@") > "$scratch/out" 2> "$scratch/err" || status=$?
    out=$(cat "$scratch/out")
    err=$(cat "$scratch/err")
}

expect_status() {
    [ "$status" -eq "$1" ] || fail "$2: exit status $status, expected $1; stderr: $err"
}

case "$case_name" in
sandbox)
    # A user's folder that no demo made is refused with --reuse and without, and kept.
    stranger=$scratch/stranger
    mkdir "$stranger"
    echo "the user's own file" > "$stranger/file.txt"
    for reuse in --reuse ""; do
        run demo.sh --no-build --build-dir "$build_dir" $reuse "$stranger"
        expect_status 2 "demo.sh $reuse on a user's folder"
        [[ "$err" == *"$stranger is not empty and not a demo sandbox"* ]] || fail "demo.sh $reuse: stderr: $err"
        [ "$(ls -A "$stranger")" = file.txt ] || fail "demo.sh $reuse: the folder holds: $(ls -A "$stranger")"
        [ "$(cat "$stranger/file.txt" 2>/dev/null)" = "the user's own file" ] || fail "demo.sh $reuse: file.txt changed"
    done
    [ ! -s "$calls" ] || fail "demo.sh ran: $(cat "$calls")"
    ;;
usage)
    # Mistyped arguments: a usage line, status 2, and nothing configured, built or run.
    while read -r script arguments; do
        : > "$calls"
        run "$script" $arguments
        expect_status 2 "$script $arguments"
        grep -q "^usage: scripts/$script " "$scratch/err" || fail "$script $arguments: no usage line; stderr: $err"
        [ ! -s "$calls" ] || fail "$script $arguments ran: $(cat "$calls")"
    done <<'TABLE'
demo.sh --build-dir
demo.sh --no-build --frobnicate
demo.sh first-sandbox second-sandbox
bench.sh first-build second-build
bench.sh --frobnicate
fuzz.sh abc
fuzz.sh 0
fuzz.sh 10 20
sanitize.sh first-build second-build
sanitize.sh --frobnicate
TABLE
    ;;
trees)
    # A configured tree of another generator, given relative to the user's folder, is
    # built as it is; a missing one is configured there with Ninja.
    mkdir "$scratch/tree-source"
    cat > "$scratch/tree-source/CMakeLists.txt" <<'TREE'
cmake_minimum_required(VERSION 3.25)
project(ScriptsTestTree NONE)
add_custom_target(SalvixSetup COMMAND ${CMAKE_COMMAND} -E touch ${CMAKE_BINARY_DIR}/SalvixSetup.built)
TREE
    tree=$user/trees/make
    for build_type in "" Debug RelWithDebInfo; do
        "$real_cmake" -S "$scratch/tree-source" -B "$tree" -G "Unix Makefiles" -DCMAKE_BUILD_TYPE="$build_type" > /dev/null \
            || fail "configuring the test tree"
        mkdir -p "$tree/bench"
        printf '#!/bin/sh\necho tree_bench ran\n' > "$tree/bench/tree_bench"
        chmod +x "$tree/bench/tree_bench"
        : > "$calls"
        run bench.sh trees/make
        expect_status 0 "bench.sh trees/make ($build_type)"
        [[ "$out" == *"tree_bench ran"* ]] || fail "bench.sh trees/make ($build_type): stdout: $out"
        if [ "$build_type" = RelWithDebInfo ]; then
            [[ "$err" != *"not optimized"* ]] || fail "bench.sh calls a RelWithDebInfo tree not optimized: $err"
        else
            [[ "$err" == *"$tree is not optimized (CMAKE_BUILD_TYPE=\"$build_type\")"* ]] \
                || fail "bench.sh on a $build_type tree says: $err"
        fi
        ! grep -q -- " -S " "$calls" || fail "bench.sh configured: $(cat "$calls")"
    done

    : > "$calls"
    run demo.sh --build-dir trees/make
    expect_status 2 "demo.sh --build-dir trees/make"
    [[ "$err" == *"no built Salvix Setup in $tree "* ]] || fail "demo.sh --build-dir trees/make: stderr: $err"
    [ -f "$tree/SalvixSetup.built" ] || fail "demo.sh did not build the tree's SalvixSetup"
    ! grep -q -- " -S " "$calls" || fail "demo.sh configured: $(cat "$calls")"

    while read -r script expected; do
        : > "$calls"
        case "$script" in
            demo.sh) run demo.sh --build-dir missing-tree ;;
            bench.sh) run bench.sh missing-tree ;;
            fuzz.sh) FUZZ_BUILD_DIR=missing-tree run fuzz.sh 1 ;;
            sanitize.sh) run sanitize.sh missing-tree ;;
        esac
        expected=${expected//@SOURCE@/$source_dir}
        expected=${expected//@USER@/$user}
        first=$(head -n 1 "$calls")
        # The sanitizer build's call goes on with its flags.
        [ "$first" = "$expected" ] || [[ "$script" = sanitize.sh && "$first" == "$expected "* ]] || fail "$script missing-tree: first call $first, expected $expected"
    done <<'TABLE'
demo.sh cmake -S @SOURCE@ -B @USER@/missing-tree -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
bench.sh cmake -S @SOURCE@ -B @USER@/missing-tree -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
fuzz.sh cmake -S @SOURCE@/fuzz -B @USER@/missing-tree -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo
sanitize.sh cmake -S @SOURCE@ -B @USER@/missing-tree -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILM_BUILD_BENCH=OFF
TABLE
    [ ! -e "$source_dir/trees" ] && [ ! -e "$source_dir/missing-tree" ] || fail "a script wrote into the source tree"
    ;;
*)
    echo "test_scripts.sh: unknown case $case_name" >&2
    exit 2
    ;;
esac

[ "$failures" -eq 0 ] || { echo "$failures failures" >&2; exit 1; }
echo "all passed"
