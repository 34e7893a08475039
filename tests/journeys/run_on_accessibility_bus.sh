#!/usr/bin/env bash
# Runs a program on a virtual X server with the accessibility bus on, as under a desktop with a
# screen reader: a session bus of its own, the accessibility bus started on it, Qt's bridge
# always on, and a reader walking every application's tree over the bus while it runs. Fails
# when the program fails or when the reader found it not answering (and stopped it).
# usage: run_on_accessibility_bus.sh <program> [arguments...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
export TAMPOD_BUS_READER="$here/accessibility_bus_reader.py"
# Freed memory overwritten at once, so that a pointer Qt's own code keeps to a destroyed object
# fails at its first use: the address sanitizer does not see reads inside Qt, and its quarantine
# (like an allocator that has not reused the block yet) keeps the old contents readable.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}max_free_fill_size=1048576:free_fill_byte=165"
export MALLOC_PERTURB_=165
# A runtime folder of the session's own: the accessibility bus's launcher puts its socket there,
# and two sessions at once (two builds tested side by side) would otherwise share one.
runtime=$(mktemp -d)
trap 'rm -rf "$runtime"' EXIT
export XDG_RUNTIME_DIR="$runtime"
dbus-run-session -- bash -c '
  set -u
  # A desktop session starts the accessibility bus; Qt only waits for it to appear.
  dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress >/dev/null
  # The reader counts its walks here; a journey waits for them.
  export TAMPOD_BUS_READER_WALKS="$XDG_RUNTIME_DIR/walks"
  : >"$TAMPOD_BUS_READER_WALKS"
  /usr/bin/python3 "$TAMPOD_BUS_READER" 0.05 &
  reader=$!
  status=0
  xvfb-run -a -s "-screen 0 1600x1000x24" \
    env QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 "$@" || status=$?
  # Stopped here, the reader ends by the signal (143); ended by itself, it found a program
  # that did not answer it.
  kill "$reader" 2>/dev/null || true
  reader_status=0
  wait "$reader" 2>/dev/null || reader_status=$?
  if [ "$reader_status" -ne 143 ]; then
    status=1
  fi
  exit "$status"
' bash "$@"
