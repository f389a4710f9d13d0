# Sourced by scripts/run.sh (and its test): starts quillet-devserver in the
# background on one port that stays the same from run to run, so the address
# the client saved at sign-in keeps working.
#
# start_devserver BINARY STATE_DIR
#   Port: QUILLET_DEVSERVER_PORT when set, else the port of the last run, else
#   47380; when that port is taken, any free one (with a warning). Data stays
#   in STATE_DIR/devserver. Sets devserver_pid and devserver_port.
start_devserver() {
  local binary="$1" state="$2"
  local last_file="$state/devserver.last-port" port_file="$state/devserver.port"
  local wanted="${QUILLET_DEVSERVER_PORT:-}"
  if [ -z "$wanted" ] && [ -s "$last_file" ]; then wanted="$(tr -dc 0-9 < "$last_file")"; fi
  [ -n "$wanted" ] || wanted=47380
  mkdir -p "$state/devserver"
  local port
  for port in "$wanted" 0; do
    rm -f "$port_file"
    "$binary" --dev --demo --port "$port" --data-dir "$state/devserver" --port-file "$port_file" \
      2> >(tee -a "$state/devserver.log" >&2) &
    devserver_pid=$!
    local _
    for _ in $(seq 1 100); do
      [ -s "$port_file" ] && break
      kill -0 "$devserver_pid" 2>/dev/null || break
      sleep 0.1
    done
    if [ -s "$port_file" ]; then
      devserver_port="$(cat "$port_file")"
      echo "$devserver_port" > "$last_file"
      return 0
    fi
    kill "$devserver_pid" 2>/dev/null || true
    wait "$devserver_pid" 2>/dev/null || true
    [ "$port" = 0 ] || echo "Port $port is taken: the development backend takes another one; sign in again once." >&2
  done
  return 1
}
