#!/usr/bin/env bash
# Installs the Debian packages tiko needs, only those that are missing.
# Usage: scripts/deps.sh [build|test|ci]
set -euo pipefail

build=(g++ cmake ninja-build pkg-config libcli11-dev nlohmann-json3-dev libspng-dev libjpeg-dev libcairo2-dev
       libavformat-dev libavcodec-dev libavdevice-dev libavfilter-dev libswscale-dev libswresample-dev libavutil-dev
       libopencv-objdetect-dev libopencv-imgproc-dev opencv-data libsdl2-dev)
test=(libgtest-dev libgmock-dev libbenchmark-dev zlib1g-dev liblz4-dev libyuv-dev libpixman-1-dev xvfb)
ci=(clang-14 libclang-rt-14-dev libfuzzer-14-dev valgrind gcovr)
build+=(libsdl2-dev)  # tiko play: its window and sound
test+=(xvfb xauth xdotool)  # tiko play tested under a real X server (xvfb-run needs xauth), keys sent by xdotool
# tiko render: video in and out through FFmpeg's libraries (libavdevice for
# cameras and test sources); eye detection with OpenCV and its cascades.
build+=(libavformat-dev libavcodec-dev libavdevice-dev libswscale-dev libswresample-dev libavutil-dev)
build+=(libopencv-objdetect-dev libopencv-imgproc-dev opencv-data)
# The GStreamer element (its suites use gst-check, x264enc from -ugly, mp4mux and lamemp3enc from -good).
build+=(libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-ugly)
# Tiko.dll: mingw-w64 for 64- and 32-bit Windows, GoogleTest's sources to
# cross-build the suites, and Wine (its 32-bit part too) to run them.
ci+=(g++-mingw-w64-x86-64 g++-mingw-w64-i686 googletest wine wine64 wine32:i386)
test+=(pybind11-dev python3-dev python3-numpy python3-pytest python3-opencv python3-av)  # the Python module, its tests and examples (/usr/bin/python3)
build+=(libobs-dev libgl1-mesa-dri)  # the OBS module tiko-obs; Mesa gives libobs its OpenGL renderer on any X display (Xvfb in its test)

case "${1:-test}" in
  build) wanted=("${build[@]}") ;;
  test) wanted=("${build[@]}" "${test[@]}") ;;
  ci) wanted=("${build[@]}" "${test[@]}" "${ci[@]}") ;;
  *) echo "usage: $0 [build|test|ci]" >&2; exit 2 ;;
esac

# wine32 comes from the i386 architecture, which must be known before the
# package lists are read.
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
if [[ " ${wanted[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo[@]}" dpkg --add-architecture i386
fi

missing=()
for p in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}" >&2
# A mirror caught mid-sync fails one list; the lists it did read (or had
# from before) may still hold everything, and the install says if not.
"${sudo[@]}" apt-get update -qq || echo "deps: some package lists could not be read; trying with those at hand" >&2
# Packages of the foreign architecture (Wine's 32-bit part) go last and by
# themselves: they need the i386 lists to match the native ones, which a
# mirror in mid-sync breaks for hours. Without them only the 32-bit Windows
# suites cannot run, and scripts/windows.sh says so.
native=() foreign=()
for p in "${missing[@]}"; do
  if [[ "$p" == *:i386 ]]; then foreign+=("$p"); else native+=("$p"); fi
done
apt_install() { DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "$@" >/dev/null; }
[ ${#native[@]} -eq 0 ] || apt_install "${native[@]}"
if [ ${#foreign[@]} -gt 0 ] && ! apt_install "${foreign[@]}"; then
  echo "deps: ${foreign[*]} could not be installed; the 32-bit Windows suites will not run" >&2
fi
