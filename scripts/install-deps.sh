#!/usr/bin/env bash
# Installs the Debian 12 packages that are missing: with --run, those that
# building and running the agent need (scripts/run.sh); without, those that
# the tests, the demo, the benchmarks and the package need too.
set -euo pipefail

# Building and running the agent.
packages=(
    cmake g++ make pkg-config
    qt6-base-dev qt6-base-private-dev qt6-svg-dev
    libmupdf-dev libmujs-dev libgumbo-dev libopenjp2-7-dev libjbig2dec0-dev
    libharfbuzz-dev libfreetype-dev libjpeg-dev libpng-dev zlib1g-dev libbrotli-dev
    libsecret-1-dev libglib2.0-dev libssl-dev nlohmann-json3-dev
    libcurl4-openssl-dev libcups2-dev scdoc
    qt6-qpa-plugins libqt6svg6 cups-client
    libwayland-dev wayland-protocols libxcb1-dev qt6-wayland
)
if [ "${1:-}" != --run ]; then
    # The tests, the demo, the benchmarks and the package.
    packages+=(
        libgtest-dev libgmock-dev libbenchmark-dev
        dbus dbus-bin dbus-daemon gnome-keyring libsecret-tools libglib2.0-bin
        mupdf-tools poppler-utils hyperfine time
        dpkg-dev file desktop-file-utils appstream lintian
        cups-daemon printer-driver-cups-pdf openssl python3 curl
        xvfb xauth x11-utils python3-gi gir1.2-glib-2.0 util-linux
        gcr xdotool at-spi2-core gir1.2-atspi-2.0 ghostscript xfce4-panel x11-apps netpbm
        orca
        gdb
        xfwm4 metacity openbox python3-xlib gnome-shell gnome-shell-extension-appindicator
        kwin-wayland plasma-desktop plasma-workspace qtwayland5
    )
fi

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done
if [ "${#missing[@]}" -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    # A fresh desktop's first boot runs unattended-upgrades, which holds
    # apt's locks for minutes: wait for them rather than fail.
    wait=(-o DPkg::Lock::Timeout=900 -o Acquire::Lock::Timeout=900)
    $sudo apt-get "${wait[@]}" update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get "${wait[@]}" install -y -qq --no-install-recommends "${missing[@]}"
fi
