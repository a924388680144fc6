#!/bin/sh
# Takes docs/screenshot.png: the program reading the virtual meter on a
# virtual X display. Run as root (the virtual meter publishes /dev/ttyV<N>)
# after sh scripts/build.sh:
#
#   sh scripts/screenshot.sh [output.png]
#
# QM45_BIN selects another folder with qm45 and qm45-sim (default build/bin).
set -eu
cd "$(dirname "$0")/.."
out=${1:-docs/screenshot.png}
bin=${QM45_BIN:-build/bin}
# About 12 s in, the chart holds DC volts, a range change and negative volts.
seconds=${QM45_SHOT_AFTER:-12}
for tool in xvfb-run xdotool import; do
    command -v "$tool" >/dev/null || { echo "screenshot: $tool is missing (sh scripts/setup.sh installs it)" >&2; exit 1; }
done
[ -x "$bin/qm45" ] && [ -x "$bin/qm45-sim" ] || { echo "screenshot: build first: sh scripts/build.sh" >&2; exit 1; }

work=$(mktemp -d)
trap 'kill $(cat "$work/pids" 2>/dev/null) 2>/dev/null || true; rm -rf "$work"' EXIT

"$bin/qm45-sim" > "$work/sim.log" 2>&1 &
echo $! >> "$work/pids"
i=0
until grep -q 'lists it as COM' "$work/sim.log"; do
    i=$((i + 1))
    [ $i -lt 50 ] || { echo "screenshot: the virtual meter did not publish its port:" >&2; cat "$work/sim.log" >&2; exit 1; }
    sleep 0.1
done
com=$(sed -n 's/.*lists it as COM \([1-4]\)$/\1/p' "$work/sim.log")
[ -n "$com" ] || { echo "screenshot: the virtual meter's port is beyond COM 4" >&2; cat "$work/sim.log" >&2; exit 1; }

cat > "$work/session.sh" <<SESSION
set -eu
"$bin/qm45" 2>/dev/null &
program=\$!
wid=\$(xdotool search --sync --onlyvisible --name 'Interface Program')
sleep 1
# The client area (716 x 474) sits below the menu bar.
height=\$(xdotool getwindowgeometry "\$wid" | sed -n 's/.*Geometry: [0-9]*x\([0-9]*\).*/\1/p')
top=\$((height - 474))
n=1
while [ \$n -lt $com ]; do
    xdotool mousemove --window "\$wid" 33 \$((top + 15)) click 1
    n=\$((n + 1))
    sleep 0.3
done
xdotool mousemove --window "\$wid" 138 \$((top + 14)) click 1
xdotool mousemove --window "\$wid" 700 \$((top + 400))
sleep $seconds
import -window "\$wid" "$work/shot.png"
kill \$program
wait \$program || true
SESSION
xvfb-run -a -s "-screen 0 1024x768x24" sh "$work/session.sh"
mkdir -p "$(dirname "$out")"
cp "$work/shot.png" "$out"
echo "$out"
