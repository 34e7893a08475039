#!/usr/bin/env bash
# Runs journeys on a virtual X server of the given size under a window manager that frames the
# windows, as on a small laptop's screen. Fails when the server or the window manager does not
# start, when a journey fails, and when none ran or one skipped (a skip here is a journey that
# did not find the screen it needs).
# usage: run_on_short_screen.sh [options] <width>x<height> <program> [arguments...]
#   --beside <width>x<height>       a second monitor right of the first, top edges aligned
#   --late-window-manager <seconds> the window manager starts that long after the program
#   --no-window-manager             nothing frames the windows
#   --undecorated                   the window manager frames windows with no title bar or border
# While the window manager runs from the start, TAMPOD_WINDOW_MANAGER_PID names its process and
# TAMPOD_WINDOW_MANAGER_CONFIG its configuration file (which a journey may change and have it
# read again, or start another window manager on in its place).
set -euo pipefail
# Without job control, so that each keeper below starts its own session as itself.
set +m
beside=""
late=""
manager=yes
decorated=yes
while [ $# -gt 0 ]; do
  case "$1" in
    --beside) beside=$2; shift 2 ;;
    --late-window-manager) late=$2; shift 2 ;;
    --no-window-manager) manager=""; shift ;;
    --undecorated) decorated=""; shift ;;
    *) break ;;
  esac
done
size=$1
shift
work=$(mktemp -d)
# Each process this run starts runs in a session of its own under a keeper: a shell that starts
# it, writes its process id to <name>.pid and, once it ends, its status to <name>.status, and then
# sleeps until the run ends it. While the keeper lives, the session's process group, numbered
# after it, cannot go to another process, so signals sent to that group reach only this run's
# processes, however long ago what they were started for ended. The shell reaps what it starts
# on its own: it never signals a single process of its own by its number.
keepers=()
start_kept() {
  local name=$1
  shift
  rm -f "$work/$name.pid" "$work/$name.status"
  setsid sh -c '"$@" & echo $! >"$0.pid"; status=0; wait $! || status=$?; echo $status >"$0.status"
                exec sleep 2147483647' "$work/$name" "$@" &
  keeper=$!
  keepers+=("$keeper")
}
ended() { [ -e "$work/$1.status" ]; }
# Its group ended (a stopped window manager is woken so that it can end), and its keeper
# forgotten, never to be signalled again.
end_kept() {
  local i
  kill -CONT -- "-$1" 2>/dev/null || true
  kill -- "-$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
  for i in "${!keepers[@]}"; do
    [ "${keepers[$i]}" = "$1" ] && unset "keepers[$i]"
  done
}
cleanup() {
  # The keepers go last: the program first, which may hold windows of the server.
  local i
  local started=("${keepers[@]}")
  for ((i = ${#started[@]} - 1; i >= 0; i--)); do
    end_kept "${started[$i]}"
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
# (The number's pipe is opened by the server's own shell: opened here, it would wait for the reader.)
start_kept server sh -c 'exec Xvfb -displayfd 3 -screen 0 "$1" -nolisten tcp -noreset 3>"$2" >"$3" 2>&1' \
  Xvfb "${screen}x24" "$work/display" "$work/server.log"
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

# The window manager's configuration: the system's, its windows undecorated where asked.
cp /etc/xdg/openbox/rc.xml "$work/rc.xml"
if [ -z "$decorated" ]; then
  sed -i -e 's|<keepBorder>yes</keepBorder>|<keepBorder>no</keepBorder>|' \
    -e 's|^<applications>|<applications><application class="*"><decor>no</decor></application>|' "$work/rc.xml"
fi

# The window manager names itself on the root window early in its start; one that could not
# reach the server yet is started again. It manages windows only once it has started, and it
# reads the requests of windows mapped before then into its queue and may then wait on the
# server with them still there, until something new comes: such a window would never be shown.
# So it is up once it has framed a window of ours, and while that is awaited, a property
# changed on the root window (which it watches) wakes it.
wm=""
start_window_manager() {
  local probe=""
  for _ in $(seq 1 600); do
    if [ -z "$wm" ] || ended wm; then
      [ -n "$wm" ] && end_kept "$wm"
      # In a session of its own: the journey that stops it would otherwise lose it to the
      # hangup the system sends to a stopped process whose group is left without a parent
      # (as when whatever started the run ends first).
      start_kept wm openbox --sm-disable --config-file "$work/rc.xml" >>"$work/wm.log" 2>&1
      wm=$keeper
    fi
    if [ -z "$probe" ] && xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"; then
      start_kept probe xmessage -title tampod-window-manager-probe -geometry +0+0 probe >/dev/null 2>&1
      probe=$keeper
    fi
    if [ -n "$probe" ]; then
      if xprop -name tampod-window-manager-probe WM_STATE 2>/dev/null | grep -q "Normal"; then
        end_kept "$probe"
        return 0
      fi
      xprop -root -f _TAMPOD_WAKE 32c -set _TAMPOD_WAKE 1 2>/dev/null || true
    fi
    sleep 0.1
  done
  echo "run_on_short_screen: the window manager did not start" >&2
  cat "$work/wm.log" >&2
  return 1
}
# The window manager's process, once it has started.
wm_pid() { [ -s "$work/wm.pid" ] && cat "$work/wm.pid"; }

if [ -n "$manager" ] && [ -z "$late" ]; then
  start_window_manager
  export TAMPOD_WINDOW_MANAGER_PID
  TAMPOD_WINDOW_MANAGER_PID=$(wm_pid)
  export TAMPOD_WINDOW_MANAGER_CONFIG=$work/rc.xml
fi
# Its output goes to a file, never through a pipe a leftover child could hold open; whatever it
# leaves running ends with the run.
: >"$work/run.log"
QT_QPA_PLATFORM=xcb start_kept program "$@" >>"$work/run.log" 2>&1
program=$keeper
if [ -n "$manager" ] && [ -n "$late" ]; then
  for _ in $(seq 1 $((late * 10))); do
    ended program && break
    sleep 0.1
  done
  if ! ended program; then
    start_window_manager
  fi
fi
# Its output as it comes, until it ends.
shown=0
show_output() {
  local size
  size=$(stat -c %s "$work/run.log")
  if [ "$size" -gt "$shown" ]; then
    tail -c +$((shown + 1)) "$work/run.log" | head -c $((size - shown))
    shown=$size
  fi
}
# A program that has printed its result ends. One still running a minute later hangs on its way
# out: what its threads are doing is shown, and it is stopped.
while ! ended program; do
  show_output
  if grep -q '^\[  PASSED  \] [0-9]* test' "$work/run.log"; then
    for _ in $(seq 1 600); do
      ended program && break
      sleep 0.1
    done
    if ! ended program; then
      echo "run_on_short_screen: the program printed its result and did not end" >&2
      if command -v gdb >/dev/null; then
        gdb -p "$(cat "$work/program.pid")" -batch -ex "thread apply all bt" >&2 2>&1 || true
      fi
      kill -KILL -- "-$program" 2>/dev/null || true
      for _ in $(seq 1 100); do
        ended program && break
        sleep 0.1
      done
    fi
    break
  fi
  sleep 0.2
done
show_output
status=$(cat "$work/program.status" 2>/dev/null || echo 137)
if [ "$status" -ne 0 ]; then
  # What the window manager was doing: a journey that waited for it in vain says so.
  if [ -n "$wm" ] && ended wm; then
    echo "run_on_short_screen: the window manager had ended with status $(cat "$work/wm.status")" >&2
  elif [ -n "$wm" ]; then
    pid=$(wm_pid)
    echo "run_on_short_screen: the window manager was $(ps -o stat= -o wchan= -p "$pid" 2>/dev/null)" >&2
    command -v gdb >/dev/null && gdb -p "$pid" -batch -ex "bt" 2>&1 | grep "^#" >&2 || true
  fi
  [ -e "$work/wm.log" ] && cat "$work/wm.log" >&2
  exit "$status"
fi
if grep -q '^\[  SKIPPED \]' "$work/run.log" || ! grep -q '^\[  PASSED  \] [1-9]' "$work/run.log"; then
  echo "run_on_short_screen: a journey skipped, or none ran" >&2
  exit 1
fi
