# Sourced by the scripts that run the Windows program under wine: a throwaway wine prefix on a
# virtual X server of its own (tools/xvfb-session.sh, whose wait_for it offers too), simulated
# devices linked as the prefix's COM ports, and a clean-up when the script exits. Expects
# $simdevice (the native simulated device) to be set.
# VARNOTH_KEEP_WINE_WORK=1 keeps the prefix, the logs and the device records for a look.

work=$(mktemp -d /tmp/varnoth-wine-XXXXXX)
keep_work=${VARNOTH_KEEP_WINE_WORK:-}
source "$(dirname "${BASH_SOURCE[0]}")/xvfb-session.sh"
export WINEPREFIX=$work/prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=" # no Mono or Gecko installer prompts
wine64=$(command -v wine64 || echo /usr/lib/wine/wine64)

# Wine's processes go first, while the devices and the X server they use are still there.
end_wine_session() {
  [ ! -d "$WINEPREFIX" ] || wineserver -k >/dev/null 2>&1 || true
  end_session
}
trap end_wine_session EXIT

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
  session_pids+=($!)
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
