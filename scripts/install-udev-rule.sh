#!/bin/sh
# Installs the udev rule that lets the logged-in user (and members of plugdev)
# open the meter's USB interface cable, and applies it to a cable already
# plugged in. Run as root:
#
#   sudo sh scripts/install-udev-rule.sh
#
# UDEV_RULES_DIR installs elsewhere (e.g. into a package tree) and skips
# reloading udev.
set -eu
cd "$(dirname "$0")/.."
rule=70-qm45-usb-to-serial.rules

if [ -n "${UDEV_RULES_DIR:-}" ]; then
    mkdir -p "$UDEV_RULES_DIR"
    install -m 0644 "udev/$rule" "$UDEV_RULES_DIR/$rule"
    echo "Installed $UDEV_RULES_DIR/$rule"
    exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
    echo "Run as root: sudo sh $0" >&2
    exit 1
fi
install -m 0644 "udev/$rule" "/etc/udev/rules.d/$rule"
if command -v udevadm >/dev/null 2>&1; then
    udevadm control --reload-rules
    udevadm trigger --action=change --subsystem-match=hidraw --subsystem-match=usb
fi
echo "Installed /etc/udev/rules.d/$rule."
echo "If the program still cannot open the cable, unplug it and plug it in again."
