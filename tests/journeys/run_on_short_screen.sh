#!/usr/bin/env bash
# Runs journeys on a virtual X server of the given size under a window manager that frames the
# windows, as on a small laptop's screen. Fails when the server or the window manager does not
# start, when a journey fails, and when none ran or one skipped (a skip here is a journey that
# did not find the screen it needs).
# usage: run_on_short_screen.sh <width>x<height> <program> [arguments...]
set -euo pipefail
size=$1
shift
log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
xvfb-run -a -s "-screen 0 ${size}x24" bash -c '
  set -u
  openbox --sm-disable >/dev/null 2>&1 &
  wm=$!
  # The window manager is up once it names itself on the root window.
  for _ in $(seq 1 600); do
    if xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"; then
      ready=1
      break
    fi
    if ! kill -0 "$wm" 2>/dev/null; then
      break
    fi
    sleep 0.1
  done
  if [ -z "${ready:-}" ]; then
    echo "run_on_short_screen: the window manager did not start" >&2
    exit 1
  fi
  status=0
  env QT_QPA_PLATFORM=xcb "$@" || status=$?
  kill "$wm" 2>/dev/null || true
  exit "$status"
' bash "$@" 2>&1 | tee "$log" || status=$?
if [ "$status" -ne 0 ]; then
  exit "$status"
fi
if grep -q '^\[  SKIPPED \]' "$log" || ! grep -q '^\[  PASSED  \] [1-9]' "$log"; then
  echo "run_on_short_screen: a journey skipped, or none ran" >&2
  exit 1
fi
