#!/usr/bin/env bash
# Installs, only when missing and without questions, every Debian 12 package that the build,
# the program and its tests need. Safe to run again. Needs root, or sudo, when something is missing.
set -euo pipefail

packages=(
    # toolchain
    g++ cmake ninja-build pkg-config make
    # the program
    qt6-base-dev qt6-qpa-plugins qt6-webengine-dev libqt6webenginecore6-bin libcurl4-openssl-dev zlib1g-dev
    fonts-noto-cjk ca-certificates
    # tests and benchmarks
    libgtest-dev libgmock-dev libbenchmark-dev tinyproxy-bin curl openssl
    # packaging and its checks
    dpkg-dev file desktop-file-utils appstream
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}"
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
# Package lists are empty on a fresh machine; refresh them once, and again if an install fails.
if [ -z "$(find /var/lib/apt/lists -maxdepth 1 -name '*Packages*' -print -quit 2>/dev/null)" ]; then
    "${sudo[@]}" apt-get update -q
fi
if ! "${sudo[@]}" apt-get install -y -q "${missing[@]}"; then
    "${sudo[@]}" apt-get update -q
    "${sudo[@]}" apt-get install -y -q "${missing[@]}"
fi
