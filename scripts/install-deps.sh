#!/usr/bin/env bash
# Installs every Debian package that the build, the tests, the benchmarks and the interop tests need.
# Does nothing when all of them are present; runs 'apt-get update' only when something is missing.
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake ninja-build ccache pkg-config clang libclang-rt-14-dev
  # libraries
  libeigen3-dev libfmt-dev libboost-dev qtbase5-dev
  # headless OpenGL: GLVND EGL/OpenGL, Mesa's EGL and llvmpipe
  libegl-dev libopengl-dev libgl-dev libegl-mesa0 libgl1-mesa-dri
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  # networking: Boost.System for the transports, Node.js with 'ws' as the WebSocket peer of the interop tests
  libboost-system-dev nodejs node-ws
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  SUDO=sudo
else
  SUDO=
fi
$SUDO apt-get update -q
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
