#!/usr/bin/env bash
# Runs a program on a virtual display of its own under a real window manager,
# as a user's desktop has one (the offscreen tests have none, so they cannot
# see which window covers which): Xvfb on a free display number, openbox on
# it, then the program with DISPLAY set and Qt's X11 platform.
#   with_window_manager.sh PROGRAM [ARGS...]
# Exits 77 (a skip to CTest) when Xvfb, openbox, xdotool or xprop is missing;
# otherwise with the program's code. Every wait is bounded.
set -u

for tool in Xvfb openbox xdotool xprop; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIP: $tool is not installed (tools/setup.sh installs it)"
    exit 77
  fi
done

work=$(mktemp -d)
xvfb="" wm=""
cleanup() {
  for pid in $wm $xvfb; do kill "$pid" 2>/dev/null; done
  for pid in $wm $xvfb; do wait "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

# Xvfb chooses a free display number itself and writes it once it accepts clients.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
for _ in $(seq 1 200); do
  [ -s "$work/display" ] && break
  kill -0 "$xvfb" 2>/dev/null || break
  sleep 0.05
done
if [ ! -s "$work/display" ]; then
  echo "FAIL: Xvfb did not start"
  cat "$work/xvfb.log"
  exit 1
fi
export DISPLAY=":$(head -n 1 "$work/display")"

HOME="$work" openbox --sm-disable >"$work/openbox.log" 2>&1 &
wm=$!
# The window manager is up once the root window names its check window.
for _ in $(seq 1 200); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break
  kill -0 "$wm" 2>/dev/null || break
  sleep 0.05
done
if ! xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"; then
  echo "FAIL: openbox did not start on $DISPLAY"
  cat "$work/openbox.log"
  exit 1
fi

QT_QPA_PLATFORM=xcb "$@"
