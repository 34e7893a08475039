#!/usr/bin/env bash
# Runs journeys on a virtual X server of the given size under a window manager that frames the
# windows, as on a small laptop's screen. Fails when the server or the window manager does not
# start, when a journey fails, and when none ran or one skipped (a skip here is a journey that
# did not find the screen it needs).
# usage: run_on_short_screen.sh <width>x<height> <program> [arguments...]
set -euo pipefail
size=$1
shift
work=$(mktemp -d)
server=""
wm=""
cleanup() {
  [ -n "$wm" ] && kill "$wm" 2>/dev/null || true
  [ -n "$server" ] && kill "$server" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
# The server picks a free display itself and writes its number, so that runs side by side never
# share one (and never share its window manager).
mkfifo "$work/display"
Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp 3>"$work/display" >"$work/server.log" 2>&1 &
server=$!
if ! read -r -t 60 number <"$work/display"; then
  echo "run_on_short_screen: the X server did not start" >&2
  cat "$work/server.log" >&2
  exit 1
fi
export DISPLAY=":$number"
# The window manager is up once it names itself on the root window; one that could not reach
# the server yet is started again.
ready=""
for _ in $(seq 1 600); do
  if [ -z "$wm" ] || ! kill -0 "$wm" 2>/dev/null; then
    openbox --sm-disable >>"$work/wm.log" 2>&1 &
    wm=$!
  fi
  if xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"; then
    ready=1
    break
  fi
  sleep 0.1
done
if [ -z "$ready" ]; then
  echo "run_on_short_screen: the window manager did not start" >&2
  cat "$work/wm.log" >&2
  exit 1
fi
status=0
env QT_QPA_PLATFORM=xcb "$@" 2>&1 | tee "$work/run.log" || status=$?
if [ "$status" -ne 0 ]; then
  exit "$status"
fi
if grep -q '^\[  SKIPPED \]' "$work/run.log" || ! grep -q '^\[  PASSED  \] [1-9]' "$work/run.log"; then
  echo "run_on_short_screen: a journey skipped, or none ran" >&2
  exit 1
fi
