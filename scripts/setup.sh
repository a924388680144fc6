#!/bin/sh
# Installs the Debian 12 packages the program, its tests and its tools need.
# Safe to run again: apt-get skips what is already there.
set -eu

packages="
    build-essential cmake ninja-build pkg-config ccache
    qt6-base-dev libqcustomplot-dev
    libudev-dev libbenchmark-dev
    fonts-liberation fonts-dejavu-core locales
    xvfb xauth x11-apps imagemagick xdotool
    desktop-file-utils appstream lintian man-db dpkg-dev
    clang libclang-rt-14-dev
"

missing=""
for p in $packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update
    # shellcheck disable=SC2086
    apt-get install -y --no-install-recommends $missing
fi

# The locale tests read a machine whose default locale writes "3,14".
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf8$'; then
    sed -i 's/^# *de_DE.UTF-8 UTF-8/de_DE.UTF-8 UTF-8/' /etc/locale.gen
    grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' >> /etc/locale.gen
    locale-gen
fi
