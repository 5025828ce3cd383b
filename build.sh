#!/bin/sh
# Installs what is missing, builds Varnek, then runs it or its tests.
#   ./build.sh run     install what building and running need, build the program and start it
#   ./build.sh test    install the test stack too, build everything and run every test
#   ./build.sh bench   install as test does, build everything and run the benchmarks
set -eu
cd "$(dirname "$0")"

# What building the program needs.
build_packages="
cmake
ninja-build
g++
pkg-config
qt6-base-dev
libfluidsynth-dev
librtmidi-dev
libasound2-dev
libjack-jackd2-dev
libpulse-dev
libpipewire-0.3-dev
libx11-dev
libxcb1-dev
"

# What the program needs as it runs: the General MIDI soundfont the built-in synth plays and
# the dialog font.
run_packages="
fluid-soundfont-gm
fonts-dejavu-core
"

# What the tests and benchmarks need: their libraries, the formatter CI checks the code with, a
# virtual display and input, the window managers the window tests run under, JACK, PulseAudio
# and PipeWire servers of their own, JACK's Python binding to play as a MIDI controller, AT-SPI
# to read the panel as a screen reader does and the Orca screen reader with the speech server it
# speaks through, the validators of the .desktop file and AppStream metadata, dpkg-shlibdeps for
# the .deb and lintian to check it; the other General MIDI soundfont the package accepts, which
# the synth's tests play too; and QEMU, busybox, kmod, cpio and ALSA's tools for the small
# machine whose kernel has ALSA, in which the tests of the ALSA half run (tools/alsa_vm, which
# downloads Debian's kernel package itself).
test_packages="
timgm6mb-soundfont
libgtest-dev
libgmock-dev
libbenchmark-dev
clang-format
xvfb
xdotool
x11-utils
x11-xserver-utils
imagemagick
python3
python3-xlib
openbox
mutter
kwin-x11
kwin-style-breeze
icewm
fluxbox
fvwm3
i3-wm
bspwm
jackd2
pulseaudio
pulseaudio-utils
pipewire
pipewire-pulse
pipewire-bin
wireplumber
dbus-daemon
python3-jack-client
at-spi2-core
python3-pyatspi
orca
speech-dispatcher
desktop-file-utils
appstream
dpkg-dev
lintian
qemu-system-x86
busybox-static
kmod
cpio
alsa-utils
"

as_root=""
[ "$(id -u)" -eq 0 ] || as_root="sudo"

# Installing a sound server enables its user service for every user in /etc/systemd/user,
# which may change which server a user gets at the next login. What an install adds there is
# taken away again; Debian's deb-systemd-helper keeps its own record that it enabled the
# units, so an upgrade leaves them disabled, as after a "systemctl --global disable".
user_units=/etc/systemd/user

undo_added_user_units() {
    before=$1
    find "$user_units" 2>/dev/null | sort -r | while read -r path; do
        if ! printf '%s\n' "$before" | grep -qxF "$path"; then
            if [ -L "$path" ]; then
                echo "Disabling again what the install enabled: $path"
                $as_root rm "$path"
            elif [ -d "$path" ]; then
                $as_root rmdir "$path" 2>/dev/null || true
            fi
        fi
    done
}

install_missing() {
    missing=""
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
            missing="$missing $package"
    done
    [ -n "$missing" ] || return 0
    echo "Installing:$missing"
    before=$(find "$user_units" 2>/dev/null | sort)
    $as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q
    $as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $missing
    undo_added_user_units "$before"
}

build_dir=${VARNEK_BUILD_DIR:-build}
# VARNEK_WERROR=ON makes every compiler warning an error, as CI builds.
configure() {
    cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNEK_WERROR="${VARNEK_WERROR:-OFF}" >/dev/null
}

case "${1:-run}" in
run)
    install_missing $build_packages $run_packages
    configure
    cmake --build "$build_dir" --target varnek -j "$(nproc)"
    exec "$build_dir/varnek"
    ;;
test | bench)
    install_missing $build_packages $run_packages $test_packages
    configure
    cmake --build "$build_dir" -j "$(nproc)"
    if [ "$1" = test ]; then
        exec ctest --test-dir "$build_dir" --output-on-failure --no-tests=error -j "$(nproc)"
    fi
    exec "$build_dir/bench/varnek_bench"
    ;;
*)
    echo "usage: $0 run|test|bench" >&2
    exit 2
    ;;
esac
