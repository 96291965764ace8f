# Sourced by the bench scripts that run the Linux program as a user does, its real window on a
# virtual X server (tools/xvfb-session.sh, whose wait_for and session_pids it offers too).
# Expects $work, a throwaway folder of the script's own.

source "$(dirname "${BASH_SOURCE[0]}")/../tools/xvfb-session.sh"

# Starts the simulated device in DIR (as its port 1) with the given options and waits until it
# is ready; sets device_pid and device_tty.
start_device_in() { # DIR SIMDEVICE OPTIONS...
  local dir=$1 simdevice=$2
  shift 2
  mkdir -p "$dir"
  "$simdevice" --link "$dir/com1" "$@" >"$dir/device.log" 2>&1 &
  device_pid=$!
  session_pids+=("$device_pid")
  wait_for "grep -qs '^ready' '$dir/device.log'" || {
    echo "the simulated device did not start" >&2
    exit 1
  }
  device_tty=$(sed -n 's/^ready //p' "$dir/device.log")
}

# Starts the Linux program with the ports of DIR (and its OPTIONS), types "open 1" into its
# window and waits until it holds the port of the device started last; sets window_pid and
# window. The program's own output goes to DIR/terminal.log.
open_window_in() { # DIR TERMINAL [OPTIONS...]
  local dir=$1 terminal=$2
  shift 2
  VARNOTH_PORTS_DIR=$dir QT_QPA_PLATFORM=xcb "$terminal" "$@" >"$dir/terminal.log" 2>&1 &
  window_pid=$!
  session_pids+=("$window_pid")
  # xdotool matches any of the conditions unless told --all; with several programs on the
  # display only the one of this process will do. A log being written comes first in the title.
  window=$(timeout 30 xdotool search --sync --all --onlyvisible --pid "$window_pid" \
    --name '^(logging to .* - )?Varnoth serial terminal$' | head -n 1) || {
    echo "no window" >&2
    exit 1
  }
  # Without a window manager nothing gives the new window the keyboard; the window can be
  # found a moment before it is mapped, when X refuses it the focus.
  wait_for 'timeout 5 xdotool windowfocus --sync "$window" 2>/dev/null' || {
    echo "the window did not take the focus" >&2
    exit 1
  }
  xdotool type "open 1"
  xdotool key Return
  wait_for 'holds_open "$window_pid" "$device_tty"' || {
    echo "the program did not open the port" >&2
    exit 1
  }
}

# Whether process PID holds the pseudo-terminal TTY open.
holds_open() { # PID TTY
  ls -l "/proc/$1/fd" 2>/dev/null | grep -q " $2\$"
}
