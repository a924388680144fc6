#!/bin/sh
# Installs the build tree into a staging directory and checks what lands there:
# every file a desktop installation needs, each one valid for the tools that
# read it.
#
#   sh check-install-tree.sh <build-dir> <source-dir>
set -eu
build=$1
source=$2
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

DESTDIR="$stage" cmake --install "$build" --prefix /usr >/dev/null
root="$stage/usr"
id=io.github.qm45meter.qm45
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

for f in \
    bin/qm45 bin/qm45-log bin/qm45-sim \
    share/applications/$id.desktop \
    share/metainfo/$id.metainfo.xml \
    share/icons/hicolor/scalable/apps/$id.svg \
    lib/udev/rules.d/70-qm45-usb-to-serial.rules \
    share/man/man1/qm45.1.gz share/man/man1/qm45-log.1.gz share/man/man1/qm45-sim.1.gz \
    share/doc/qm45/copyright share/doc/qm45/changelog.gz; do
    [ -f "$root/$f" ] || fail "missing $f"
done
for f in bin/qm45 bin/qm45-log bin/qm45-sim; do
    [ -x "$root/$f" ] || fail "$f is not executable"
done
# The installed recorder answers --version, and every option its --help lists
# has an entry of its own (a tagged paragraph) in its manual page.
if [ -x "$root/bin/qm45-log" ]; then
    version=$("$root/bin/qm45-log" --version 2>&1) || fail "qm45-log --version: $version"
    case $version in "qm45-log "[0-9]*) ;; *) fail "qm45-log --version says: $version" ;; esac
    help=$("$root/bin/qm45-log" --help 2>&1) || fail "qm45-log --help failed"
    tags=$(gzip -dc "$root/share/man/man1/qm45-log.1.gz" 2>/dev/null |
        awk 'tagged { print } { tagged = ($0 == ".TP") }' | sed 's/\\-/-/g')
    options=$(printf '%s\n' "$help" | grep -oE -- '--[a-z][a-z-]*' | sort -u)
    [ -n "$options" ] || fail "qm45-log --help lists no options"
    for option in $options; do
        printf '%s\n' "$tags" | grep -qE -- "^\.[A-Z]+ +$option( |\$)" ||
            fail "qm45-log's manual page has no entry for $option"
    done
fi

# Each PNG is the size its folder says.
for size in 16 22 24 32 48 64 128 256; do
    png="$root/share/icons/hicolor/${size}x${size}/apps/$id.png"
    if [ ! -f "$png" ]; then
        fail "missing ${size}x${size} icon"
        continue
    fi
    # Width and height are the big-endian words at bytes 16 and 20 of the header.
    dims=$(od -An -tu1 -j16 -N8 "$png" | awk '{print $1*16777216+$2*65536+$3*256+$4 "x" $5*16777216+$6*65536+$7*256+$8}')
    [ "$dims" = "${size}x${size}" ] || fail "${size}x${size} icon is $dims"
done

desktop="$root/share/applications/$id.desktop"
desktop-file-validate "$desktop" || fail "desktop-file-validate"
grep -qx 'Exec=qm45' "$desktop" || fail "desktop entry does not start qm45"
grep -qx "Icon=$id" "$desktop" || fail "desktop entry names another icon"
grep -qx 'Categories=Science;Electronics;' "$desktop" || fail "desktop entry categories"

metainfo="$root/share/metainfo/$id.metainfo.xml"
appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate"
grep -q "<id>$id</id>" "$metainfo" || fail "metainfo id"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" || fail "metainfo launchable"
grep -q '<modalias>usb:v1A86pE008\*</modalias>' "$metainfo" || fail "metainfo modalias"
for binary in qm45 qm45-log qm45-sim; do
    grep -q "<binary>$binary</binary>" "$metainfo" || fail "metainfo does not provide $binary"
done
grep -q 'docs/screenshot.png</image>' "$metainfo" || fail "metainfo screenshot"
[ -f "$source/docs/screenshot.png" ] || fail "docs/screenshot.png is not in the tree"

# The rule: every line a comment, blank, or comma-separated KEY op "value"
# items, as udev reads them (udevadm verify does the same where it exists).
rule="$root/lib/udev/rules.d/70-qm45-usb-to-serial.rules"
if udevadm verify --help >/dev/null 2>&1; then
    udevadm verify "$rule" || fail "udevadm verify"
fi
item='[A-Z_]+(\{[^}]+\})?[[:space:]]*(==|!=|=|\+=|-=|:=)[[:space:]]*"[^"]*"'
bad=$(grep -vE '^[[:space:]]*(#.*)?$' "$rule" | grep -vE "^$item([[:space:]]*,[[:space:]]*$item)*[[:space:]]*\$" || true)
[ -z "$bad" ] || fail "udev rule lines that do not parse: $bad"
grep -q 'ATTRS{product}=="USB to Serial"' "$rule" || fail "rule does not match the cable"

# Manual pages format without warnings.
for page in qm45 qm45-log qm45-sim; do
    file="$root/share/man/man1/$page.1.gz"
    [ -f "$file" ] || continue # reported above
    out=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$file" 2>&1 >/dev/null) || fail "man $page failed"
    [ -z "$out" ] || fail "man $page: $out"
    lexgrog "$file" >/dev/null 2>&1 || fail "$page.1: no NAME line that whatis can read"
done

if [ "$failures" -ne 0 ]; then
    echo "$failures problem(s) in the installed tree"
    exit 1
fi
echo "installed tree complete: $(find "$stage" -type f | wc -l) files"
