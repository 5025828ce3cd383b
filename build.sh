#!/bin/sh
# Installs what is missing, builds Varnek, then runs it or its tests.
#   ./build.sh run     build and start the program
#   ./build.sh test    build and run every test
#   ./build.sh bench   build and run the benchmarks
set -eu
cd "$(dirname "$0")"

packages="cmake ninja-build g++ pkg-config qt6-base-dev libfluidsynth-dev librtmidi-dev libasound2-dev
libjack-jackd2-dev fluid-soundfont-gm fonts-dejavu-core libgtest-dev libgmock-dev libbenchmark-dev
xvfb xdotool x11-utils x11-xserver-utils libx11-dev jackd2 imagemagick python3 python3-xlib openbox
libpulse-dev pulseaudio pulseaudio-utils pipewire pipewire-pulse wireplumber dbus-daemon python3-jack-client
at-spi2-core python3-pyatspi libpipewire-0.3-dev pipewire-bin"
# The validators of the .desktop file and AppStream metadata, dpkg-shlibdeps for the .deb and
# lintian to check it.
packages="$packages desktop-file-utils appstream dpkg-dev lintian"

missing=""
for package in $packages; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing="$missing $package"
done
if [ -n "$missing" ]; then
    echo "Installing:$missing"
    as_root=""
    [ "$(id -u)" -eq 0 ] || as_root="sudo"
    $as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q
    $as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $missing
fi

build_dir=${VARNEK_BUILD_DIR:-build}
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build_dir" -j "$(nproc)"

case "${1:-run}" in
run) exec "$build_dir/varnek" ;;
test) exec ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)" ;;
bench) exec "$build_dir/bench/varnek_bench" ;;
*) echo "usage: $0 run|test|bench" >&2; exit 2 ;;
esac
