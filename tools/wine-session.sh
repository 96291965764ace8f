# Sourced by the scripts that run the Windows program under wine: a throwaway wine prefix on a
# virtual X server of its own, simulated devices linked as the prefix's COM ports, and a clean-up
# when the script exits. Expects $simdevice (the native simulated device) to be set.
# VARNOTH_KEEP_WINE_WORK=1 keeps the prefix, the logs and the device records for a look.

work=$(mktemp -d /tmp/varnoth-wine-XXXXXX)
export WINEPREFIX=$work/prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=" # no Mono or Gecko installer prompts
wine64=$(command -v wine64 || echo /usr/lib/wine/wine64)
xvfb_pid=""
device_pids=()

cleanup() {
  set +e
  for pid in "${device_pids[@]}"; do
    kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  done
  [ -d "$WINEPREFIX" ] && wineserver -k >/dev/null 2>&1
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  if [ -n "${VARNOTH_KEEP_WINE_WORK:-}" ]; then
    echo "logs and prefix kept in $work"
  else
    rm -rf "$work"
  fi
}
trap cleanup EXIT

# Waits up to $2 seconds for the shell test $1.
wait_for() {
  local limit=$(($2 * 10))
  for ((i = 0; i < limit; i++)); do
    eval "$1" && return 0
    sleep 0.1
  done
  eval "$1"
}

# Xvfb picks a free display itself and writes its number to fd 3.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
wait_for '[ -s "$work/display" ]' 30 || { echo "Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"

# Wine's helper processes inherit the output of whatever starts them and keep it open, so
# everything wine prints goes to files, never into a pipe.
mkdir -p "$WINEPREFIX"
wineserver -p >/dev/null 2>&1
"$wine64" wineboot -i >"$work/wineboot.log" 2>&1
# A new prefix links com1 to /dev/ttyS0 and so on; the only ports are the script's own.
rm -f "$WINEPREFIX"/dosdevices/com*

# Starts a simulated device as COM<number>, recording into port<number>-received.bin (a name
# like com3.bin would open the COM3 device on Windows and under wine, whatever its extension).
start_device() { # PORT_NUMBER OPTIONS...
  local number=$1
  shift
  "$simdevice" --link "$WINEPREFIX/dosdevices/com$number" --record "$work/port$number-received.bin" "$@" \
    >"$work/port$number.log" 2>&1 &
  device_pids+=($!)
  wait_for "grep -q '^ready' '$work/port$number.log'" 30 ||
    { echo "the device for COM$number did not start"; cat "$work/port$number.log"; exit 1; }
}

windows_path() { echo "Z:${1//\//\\}"; }

# Runs a Windows program under wine, its output into a file.
run_windows_quietly() { # LOG PROGRAM ARGS...
  local log=$1
  shift
  timeout 600 "$wine64" "$@" >"$log" 2>&1
}
