# Sourced by the scripts that start helper processes for a while (tools/xvfb-session.sh, the
# kernel-driver rig of tests/vm, the text console's test): offers wait_for and port_held, and
# when the script exits stops the processes listed in session_pids, the last started first, and
# removes $work.
# Expects $work, a throwaway folder of the script's own; keep_work=1 keeps it for a look.

session_pids=()

end_session() {
  set +e
  local i
  for ((i = ${#session_pids[@]} - 1; i >= 0; i--)); do
    kill "${session_pids[i]}" 2>/dev/null && wait "${session_pids[i]}" 2>/dev/null
  done
  if [ -n "${keep_work:-}" ]; then
    echo "logs kept in $work"
  else
    rm -rf "$work"
  fi
}
trap end_session EXIT

# Polls the shell test $1 for up to $2 seconds (default 30): what a loaded machine takes is not
# a failure, a condition never met is. Returns non-zero when time runs out.
wait_for() { # CONDITION [SECONDS]
  local deadline=$((SECONDS + ${2:-30}))
  until eval "$1"; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.1
  done
}

# Whether a port is still held: the exclusive flag (TIOCGEXCL) that a program's open set and its
# close clears. The simulated device keeps its side open, so a flag left set outlives the program.
port_held() { # PORT
  [ "$(python3 -c 'import fcntl, os, struct, sys
fd = os.open(sys.argv[1], os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
print(struct.unpack("i", fcntl.ioctl(fd, 0x80045440, bytes(4)))[0])  # TIOCGEXCL' "$1")" != 0 ]
}
