#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the benchmarks need.
# When all of them are installed already it does nothing, so it needs neither root nor
# the package archive then; otherwise it installs the missing ones.
set -euo pipefail

packages=(
    # build
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-base-private-dev libgl-dev libglx-dev libopengl-dev
    libcurl4-openssl-dev libssl-dev libtinyxml2-dev
    # tools the programs start (python3 runs the osascript stand-in), and the stand-in bundle's build
    ffmpeg libarchive-tools zip unzip xdotool iputils-ping procps attr python3
    # tests and benchmarks
    xvfb xauth curl openssl clang libclang-rt-dev
    fonts-dejavu-core
    zlib1g-dev
    # the application font compiled into Salvix Setup (a face with Latin and Chinese glyphs,
    # taken out of its collection by fontTools)
    fonts-wqy-microhei python3-fonttools
)

# Installed ones are listed as "NAME installed"; a package dpkg does not know is left out.
declare -A installed
while read -r name state; do
    [ "$state" != installed ] || installed[$name]=1
done < <(dpkg-query -W -f='${Package} ${db:Status-Status}\n' "${packages[@]}" 2>/dev/null || true)
missing=()
for package in "${packages[@]}"; do
    [ -n "${installed[$package]:-}" ] || missing+=("$package")
done
if [ "${#missing[@]}" -eq 0 ]; then
    echo "install-deps.sh: all ${#packages[@]} packages are installed already; nothing to do"
    exit 0
fi
echo "install-deps.sh: installing ${missing[*]}"

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
