# Sourced by the scripts that need an X display of their own (tests/qt/program_on_x11_test.sh,
# tools/screenshot.sh, tools/wine-session.sh): starts a virtual X server (Xvfb) and exports its
# DISPLAY, within the session of tools/script-session.sh (wait_for, session_pids; Xvfb stops
# last).

source "$(dirname "${BASH_SOURCE[0]}")/script-session.sh"

# Xvfb picks a free display itself and writes its number to fd 3 once it accepts clients.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
session_pids+=($!)
wait_for '[ -s "$work/display" ]' || {
  echo "Xvfb did not start" >&2
  cat "$work/xvfb.log" >&2
  exit 1
}
export DISPLAY=":$(head -n1 "$work/display")"
