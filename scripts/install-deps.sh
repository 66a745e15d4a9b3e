#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing need,
# when any is missing.
set -euo pipefail

packages=(
    cmake g++ make pkg-config
    qt6-base-dev
    libmupdf-dev libmujs-dev libgumbo-dev libopenjp2-7-dev libjbig2dec0-dev
    libharfbuzz-dev libfreetype-dev libjpeg-dev libpng-dev zlib1g-dev libbrotli-dev
    libsecret-1-dev libglib2.0-dev libssl-dev nlohmann-json3-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    dbus dbus-bin dbus-daemon gnome-keyring libsecret-tools
    mupdf-tools poppler-utils hyperfine time python3
    qt6-qpa-plugins
)

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
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
