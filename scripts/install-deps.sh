#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the benchmarks need.
# Safe to run again: apt-get skips what is already there.
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

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${packages[@]}"
