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
  # OpenIGTLink: the library, and the reference example programs the interop tests build and run
  libopenigtlink-dev openigtlink-examples
  # video: FFmpeg's libraries, and the ffmpeg/ffprobe programs the video tests compare against
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev ffmpeg
  # data files: zstd, DCMTK; the DICOM dumper and validator and VTK's MetaImage reader used by the tests
  libzstd-dev libdcmtk-dev dcmtk dicom3tools python3-vtk9
  python3  # host application tests: the layering check and a standard-library PNG reader
  # networking: Boost.System for the transports, Node.js with 'ws' as the WebSocket peer of the interop tests
  libboost-system-dev nodejs node-ws
  libv4l-dev  # cameras: Video4Linux2 capture and pixel-format conversion through libv4l2
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
