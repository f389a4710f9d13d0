#!/usr/bin/env bash
# Two runs of the run command's backend start in a row: the second listens on
# the first one's port and still accepts the session signed in during the first.
# usage: run-keeps-session.sh SOURCE_DIR DEVSERVER_BINARY
set -euo pipefail
source_dir="$1" binary="$2"
state="$(mktemp -d)"
pid="" blocker=""
cleanup() {
  [ -z "$pid" ] || kill "$pid" 2>/dev/null || true
  [ -z "$blocker" ] || kill "$blocker" 2>/dev/null || true
  rm -rf "$state"
}
trap cleanup EXIT
. "$source_dir/scripts/devserver-start.sh"
fail() { echo "FAIL: $*" >&2; exit 1; }
stop_devserver() { kill "$pid"; wait "$pid" 2>/dev/null || true; pid=""; }

# No fixed port in the test: the first run takes any free one, as when the default is taken.
QUILLET_DEVSERVER_PORT=0 start_devserver "$binary" "$state" 2>/dev/null || fail "first start"
pid="$devserver_pid"
first_port="$devserver_port"
[ "$(cat "$state/devserver.last-port")" = "$first_port" ] || fail "last port not kept"
answer="$(curl -s --max-time 10 -H 'Content-Type: application/json' \
  -d '{"email":"demo@quillet.dev","password":"Quillet-demo-2026","device_id":"run-test","device_name":"run-test"}' \
  "http://127.0.0.1:$first_port/api/v1/auth/login")"
token="$(printf '%s' "$answer" | python3 -c 'import json,sys; print(json.load(sys.stdin)["token"])')" \
  || fail "sign-in: $answer"
stop_devserver

start_devserver "$binary" "$state" 2>/dev/null || fail "second start"
pid="$devserver_pid"
[ "$devserver_port" = "$first_port" ] || fail "second run on port $devserver_port, first on $first_port"
status="$(curl -s -o /dev/null -w '%{http_code}' --max-time 10 -H "Authorization: Bearer $token" \
  "http://127.0.0.1:$devserver_port/api/v1/bootstrap")"
[ "$status" = 200 ] || fail "bootstrap with the first run's session answered $status"
stop_devserver

# The port taken by someone else: the run still starts, on another port.
python3 -c 'import socket,sys,time
s=socket.socket(); s.setsockopt(socket.SOL_SOCKET,socket.SO_REUSEADDR,1)
s.bind(("127.0.0.1",int(sys.argv[1]))); s.listen(); open(sys.argv[2],"w").close(); time.sleep(60)' \
  "$first_port" "$state/blocked" &
blocker=$!
for _ in $(seq 1 100); do [ -e "$state/blocked" ] && break; sleep 0.1; done
[ -e "$state/blocked" ] || fail "could not take port $first_port"
start_devserver "$binary" "$state" 2>/dev/null || fail "start with the port taken"
pid="$devserver_pid"
[ "$devserver_port" != "$first_port" ] || fail "taken port reused"
echo "PASS"
