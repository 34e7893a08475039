#!/usr/bin/env bash
# Runs journeys on a virtual X server of the given size under a window manager that frames the
# windows, as on a small laptop's screen. Fails when the server or the window manager does not
# start, when a journey fails, and when none ran or one skipped (a skip here is a journey that
# did not find the screen it needs).
# usage: run_on_short_screen.sh [options] <width>x<height> <program> [arguments...]
#   --beside <width>x<height>       a second monitor right of the first, top edges aligned
#   --late-window-manager <seconds> the window manager starts that long after the program
# The window manager's process id is in TAMPOD_WINDOW_MANAGER_PID while it runs from the start.
set -euo pipefail
beside=""
late=""
while [ $# -gt 0 ]; do
  case "$1" in
    --beside) beside=$2; shift 2 ;;
    --late-window-manager) late=$2; shift 2 ;;
    *) break ;;
  esac
done
size=$1
shift
work=$(mktemp -d)
server=""
wm=""
program=""
# Everything this run started goes with it, whatever state it is in: a stopped window manager
# is woken so that it can end, and the program's own children (its whole process group) go too.
cleanup() {
  if [ -n "$program" ]; then
    kill -- "-$program" 2>/dev/null || true
  fi
  if [ -n "$wm" ]; then
    kill -CONT "$wm" 2>/dev/null || true
    kill "$wm" 2>/dev/null || true
  fi
  [ -n "$server" ] && kill "$server" 2>/dev/null || true
  for pid in $program $wm $server; do
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT
width=${size%x*}
height=${size#*x}
screen=$size
if [ -n "$beside" ]; then
  second_width=${beside%x*}
  second_height=${beside#*x}
  screen="$((width + second_width))x$((height > second_height ? height : second_height))"
fi
# The server picks a free display itself and writes its number, so that runs side by side never
# share one (and never share its window manager). It keeps its state when its last client goes
# (the monitors below would go with the command that set them).
mkfifo "$work/display"
Xvfb -displayfd 3 -screen 0 "${screen}x24" -nolisten tcp -noreset 3>"$work/display" >"$work/server.log" 2>&1 &
server=$!
if ! read -r -t 60 number <"$work/display"; then
  echo "run_on_short_screen: the X server did not start" >&2
  cat "$work/server.log" >&2
  exit 1
fi
export DISPLAY=":$number"
if [ -n "$beside" ]; then
  # Two monitors on the one screen, as RandR reports a laptop and an external display.
  mm() { echo $(($1 / 4)); }
  xrandr --setmonitor first "$width/$(mm "$width")x$height/$(mm "$height")+0+0" screen >/dev/null
  xrandr --setmonitor second "$second_width/$(mm "$second_width")x$second_height/$(mm "$second_height")+$width+0" none
fi

# The window manager names itself on the root window early in its start; one that could not
# reach the server yet is started again. It manages windows only once it has started, and it
# reads the requests of windows mapped before then into its queue and may then wait on the
# server with them still there, until something new comes: such a window would never be shown.
# So it is up once it has framed a window of ours, and while that is awaited, a property
# changed on the root window (which it watches) wakes it.
start_window_manager() {
  local probe=""
  for _ in $(seq 1 600); do
    if [ -z "$wm" ] || ! kill -0 "$wm" 2>/dev/null; then
      # In a session of its own: the journey that stops it would otherwise lose it to the
      # hangup the system sends to a stopped process whose group is left without a parent
      # (as when whatever started the run ends first).
      setsid openbox --sm-disable >>"$work/wm.log" 2>&1 &
      wm=$!
    fi
    if [ -z "$probe" ] && xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"; then
      xmessage -title tampod-window-manager-probe -geometry +0+0 probe >/dev/null 2>&1 &
      probe=$!
    fi
    if [ -n "$probe" ]; then
      if xprop -name tampod-window-manager-probe WM_STATE 2>/dev/null | grep -q "Normal"; then
        kill "$probe" 2>/dev/null || true
        wait "$probe" 2>/dev/null || true
        return 0
      fi
      xprop -root -f _TAMPOD_WAKE 32c -set _TAMPOD_WAKE 1 2>/dev/null || true
    fi
    sleep 0.1
  done
  echo "run_on_short_screen: the window manager did not start" >&2
  [ -n "$probe" ] && kill "$probe" 2>/dev/null || true
  cat "$work/wm.log" >&2
  return 1
}

if [ -z "$late" ]; then
  start_window_manager
  export TAMPOD_WINDOW_MANAGER_PID=$wm
fi
# In a process group of its own, so that whatever it leaves running ends with the run; its
# output goes to a file, never through a pipe a leftover child could hold open.
: >"$work/run.log"
QT_QPA_PLATFORM=xcb setsid "$@" >>"$work/run.log" 2>&1 &
program=$!
if [ -n "$late" ]; then
  for _ in $(seq 1 $((late * 10))); do
    kill -0 "$program" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$program" 2>/dev/null; then
    start_window_manager
  fi
fi
# Its output as it comes, until it ends.
tail -n +1 -f --pid="$program" "$work/run.log" &
reader=$!
# A program that has printed its result ends. One still running a minute later hangs on its way
# out: what its threads are doing is shown, and it is stopped.
while kill -0 "$program" 2>/dev/null; do
  if grep -q '^\[  PASSED  \] [0-9]* test' "$work/run.log"; then
    for _ in $(seq 1 600); do
      kill -0 "$program" 2>/dev/null || break
      sleep 0.1
    done
    if kill -0 "$program" 2>/dev/null; then
      echo "run_on_short_screen: the program printed its result and did not end" >&2
      if command -v gdb >/dev/null; then
        gdb -p "$program" -batch -ex "thread apply all bt" >&2 2>&1 || true
      fi
      kill -KILL "$program" 2>/dev/null || true
    fi
    break
  fi
  sleep 0.2
done
status=0
wait "$program" || status=$?
wait "$reader" || true
if [ "$status" -ne 0 ]; then
  # What the window manager was doing: a journey that waited for it in vain says so.
  if [ -n "$wm" ] && ! kill -0 "$wm" 2>/dev/null; then
    ended=0
    wait "$wm" || ended=$?
    wm=""
    echo "run_on_short_screen: the window manager had ended with status $ended" >&2
  elif [ -n "$wm" ]; then
    echo "run_on_short_screen: the window manager was $(ps -o stat= -o wchan= -p "$wm" 2>/dev/null)" >&2
    command -v gdb >/dev/null && gdb -p "$wm" -batch -ex "bt" 2>&1 | grep "^#" >&2 || true
  fi
  cat "$work/wm.log" >&2
  exit "$status"
fi
if grep -q '^\[  SKIPPED \]' "$work/run.log" || ! grep -q '^\[  PASSED  \] [1-9]' "$work/run.log"; then
  echo "run_on_short_screen: a journey skipped, or none ran" >&2
  exit 1
fi
