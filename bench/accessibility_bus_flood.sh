#!/usr/bin/env bash
# The whole flood measurement: the program on a virtual X server and an accessibility bus of its
# own, a file playing, SENDERS callers of RATE calls a second on CONNECTIONS connections each for
# SECONDS, a reader's GetRole every 0.25 s, beside CPUS busy processes (none for 0); then a
# polite quit (Ctrl+Q), which must end the program within 10 s. Prints the senders' and the
# reader's figures and GOAL lines. FLOOD_BUS_NICE=-10 runs the accessibility bus's daemon, the
# callers and the reader at that niceness, so that a loaded machine starves the program rather
# than them: the daemon passes every call on in the order it came, and a caller that reads its
# answers late counts them unanswered.
# usage: accessibility_bus_flood.sh <tampod> <audio file> SENDERS CONNECTIONS RATE SECONDS CPUS
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
export FLOOD="$here/accessibility_bus_flood.py"
runtime=$(mktemp -d)
trap 'rm -rf "$runtime"' EXIT
export XDG_RUNTIME_DIR="$runtime" XDG_CONFIG_HOME="$runtime/config" XDG_DATA_HOME="$runtime/data"
export XDG_CACHE_HOME="$runtime/cache"
dbus-run-session -- xvfb-run -a -s "-screen 0 1600x1000x24" bash -c '
  set -u
  program=$1 file=$2 senders=$3 connections=$4 rate=$5 seconds=$6 cpus=$7
  dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress >/dev/null
  QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 "$program" "$file" >"$XDG_RUNTIME_DIR/program.log" 2>&1 &
  pid=$!
  for _ in $(seq 60); do
    /usr/bin/python3 "$FLOOD" play 2>/dev/null && break
    sleep 1
  done
  if [ -n "${FLOOD_BUS_NICE:-}" ]; then
    launcher=$(dbus-send --session --print-reply=literal --dest=org.freedesktop.DBus / \
      org.freedesktop.DBus.GetConnectionUnixProcessID string:org.a11y.Bus | awk "{print \$2}")
    renice -n "$FLOOD_BUS_NICE" -p "$(pgrep -P "$launcher" dbus-daemon)" >/dev/null
  fi
  stress=
  if [ "$cpus" -gt 0 ]; then
    stress-ng --cpu "$cpus" --timeout $((seconds + 45))s >/dev/null 2>&1 &
    stress=$!
    sleep 2
  fi
  flooders=()
  for _ in $(seq "$senders"); do
    nice -n "${FLOOD_BUS_NICE:-0}" /usr/bin/python3 "$FLOOD" send light "$rate" "$seconds" "$connections" &
    flooders+=($!)
  done
  nice -n "${FLOOD_BUS_NICE:-0}" /usr/bin/python3 "$FLOOD" watch "$seconds"
  # Where the time went: the buses, the callers, the program.
  ps -o time=,ni=,args= -p "$(pgrep -d, -f "accessibility.conf|$FLOOD send")" -p "$pid" | cut -c1-100
  wait "${flooders[@]}"
  [ -n "$stress" ] && kill "$stress" 2>/dev/null && wait "$stress" 2>/dev/null
  cp "$XDG_RUNTIME_DIR/program.log" /tmp/flood_program.log 2>/dev/null
  echo "program CPU time (user+system ticks): $(cut -d" " -f14,15 /proc/$pid/stat)"
  window=$(xdotool search --pid "$pid" --onlyvisible --name tamPOD | head -1)
  xdotool windowfocus --sync "$window" key ctrl+q
  asked=$(date +%s.%N)
  for _ in $(seq 100); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$pid" 2>/dev/null; then
    echo "GOAL the program quits when asked within 10 s: MISSED"
    kill -9 "$pid"
  else
    echo "GOAL the program quits when asked within 10 s: met ($(echo "$(date +%s.%N) - $asked" | bc) s)"
  fi
' bash "$@"
