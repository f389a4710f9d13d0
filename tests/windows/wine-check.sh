#!/usr/bin/env bash
# One Windows check under wine: service-console, service-scm, aesgcm,
# ifcounters, ping, autostart, motion or fatal-message. Exit 0 passes; a missing wine skips.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/wine-env.sh"
check="$1"
if wine_missing; then exit 0; fi
[ -d "$WINEPREFIX/drive_c" ] || fail "no wine prefix: run the windows_setup test first"
bin="$QUILLET_WIN_PROGRAMS"
safe_config='{"log":{"level":"info"},"inbounds":[],"outbounds":[{"type":"direct","tag":"direct"}]}'
hostile_config='{"log":{"level":"info","output":"C:\\Windows\\System32\\drivers\\etc\\hosts"},"outbounds":[]}'
stamp='^\[[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\] .+'

# Every line of the service log has the time stamp prefix and ends in CRLF.
check_log_format() {
  local log="$1"
  [ -s "$log" ] || fail "no service log at $log"
  if grep -v -E "${stamp}"$'\r$' "$log" | grep -q .; then
    cat -A "$log"
    fail "service log lines without the \"[YYYY-MM-DD hh:mm:ss] \" prefix or CRLF"
  fi
}

# The service program beside bin\sing-box.exe in a folder with a space.
install_programs() {
  local dir="$1"
  mkdir -p "$dir/bin"
  cp "$bin/quillet-vpn-service.exe" "$dir/"
  cp "$bin/sing-box.exe" "$dir/bin/"
}

service_console() {
  local root="$QUILLET_WIN_WORK/console"
  local service="$root/Program Files/Quillet"
  local data="$root/Program Data"
  local shared="$data/Quillet"
  rm -rf "$root"
  install_programs "$service"
  local log="$service/logs/service.log"
  local run=(timeout 60 wine "$bin/winchecks.exe" with-env ProgramData "$(winpath "$data")"
    "$(winpath "$service/quillet-vpn-service.exe")")

  # No configuration: refused before anything runs; the layout is created anyway.
  set +e; "${run[@]}" --console >/dev/null 2>&1; rc=$?; set -e
  [ "$rc" = 1 ] || fail "no configuration: exit $rc, wanted 1"
  [ -d "$shared/runtime" ] || fail "runtime directory not created under ProgramData"
  grep -qF "active config not found: $(winpath "$shared")\\configs\\active.json" "$log" \
    || fail "no \"active config not found\" line naming the shared configuration"
  echo "ok: console mode without a configuration exits 1 and creates logs\\ and runtime\\"

  # A hostile document is refused; the engine never starts.
  mkdir -p "$shared/configs"
  printf '%s' "$hostile_config" > "$shared/configs/active.json"
  set +e; "${run[@]}" --console >/dev/null 2>&1; rc=$?; set -e
  [ "$rc" = 1 ] || fail "hostile configuration: exit $rc, wanted 1"
  grep -q "refused active config: " "$log" || fail "no \"refused active config\" line"
  [ ! -e "$shared/runtime/engine-args.txt" ] || fail "the engine ran on a hostile configuration"
  echo "ok: a configuration naming a file outside runtime\\ is refused"

  # A safe document runs; the stand-in ends after a second, and so does the service.
  printf '%s' "$safe_config" > "$shared/configs/active.json"
  touch "$shared/runtime/exit-soon"
  set +e; "${run[@]}" --console >/dev/null 2>&1; rc=$?; set -e
  [ "$rc" = 0 ] || fail "safe configuration: exit $rc, wanted 0"
  local args="$shared/runtime/engine-args.txt"
  [ -f "$args" ] || fail "the engine did not run"
  local engine_w runtime_w checked_w
  engine_w="$(winpath "$service/bin/sing-box.exe")"
  runtime_w="$(winpath "$shared/runtime")"
  checked_w="$runtime_w\\active.checked.json"
  local want_line="commandline=\"$engine_w\" run -D \"$runtime_w\" -c \"$checked_w\""
  grep -qxF "$want_line"$'\r' "$args" || { cat "$args"; fail "engine command line, wanted $want_line"; }
  grep -qxF "arg3=$runtime_w"$'\r' "$args" || { cat "$args"; fail "the engine saw a broken runtime path"; }
  grep -qxF "arg5=$checked_w"$'\r' "$args" || { cat "$args"; fail "the engine saw a broken configuration path"; }
  cmp -s "$shared/configs/active.json" "$shared/runtime/active.checked.json" || fail "checked copy differs"
  grep -q "stand-in engine pid=" "$service/logs/sing-box.log" || fail "engine output not in logs\\sing-box.log"
  for line in "console mode start" "started sing-box with config: $(winpath "$shared")\\configs\\active.json" \
      "stopped sing-box"; do
    grep -qF "] $line"$'\r' "$log" || { cat "$log"; fail "service log has no line \"$line\""; }
  done
  check_log_format "$log"
  echo "ok: the engine runs as \"$engine_w\" run -D \"...\" -c \"...\" with paths intact; log format holds"

  # Not started by the service control manager.
  set +e; "${run[@]}" >/dev/null 2>&1; rc=$?; set -e
  [ "$rc" = 1 ] || fail "without --console outside the service manager: exit $rc, wanted 1"
  grep -qF "StartServiceCtrlDispatcher failed; run with --console for debugging." "$log" \
    || fail "no dispatcher failure line"
  echo "ok: outside the service manager it exits 1 and says how to debug"
}

# Runs sc.exe and appends its answer as a case for scanswer_check.
answers=""
sc_case() {
  local name="$1" verb="$2" expect="$3" output rc
  # Standard output and error together, as the manager reads them. Wine's sc.exe
  # prints no text for a failure; its error channel carries the code.
  set +e; output="$(WINEDEBUG=-all,err+sc timeout 30 wine sc "$verb" QuilletVpnService 2>&1)"; rc=$?; set -e
  printf '=== %s %s exit=%s expect=%s\n%s\n' "$name" "$verb" "$rc" "$expect" "${output//$'\r'/}" >> "$answers"
}

sc_state() {
  timeout 30 wine sc query QuilletVpnService 2>/dev/null | tr -d '\r' | sed -n 's/^ *STATE *: *[0-9]* *\([A-Z_]*\).*/\1/p'
}

wait_state() {
  local want="$1" limit="$2" start=$SECONDS
  while [ $((SECONDS - start)) -lt "$limit" ]; do
    [ "$(sc_state)" = "$want" ] && return 0
    sleep 0.2
  done
  return 1
}

service_scm() {
  local service="$WINEPREFIX/drive_c/Program Files/Quillet"
  local log="$service/logs/service.log"
  answers="$QUILLET_WIN_WORK/sc-wine.txt"
  : > "$answers"
  timeout 30 wine sc delete QuilletVpnService >/dev/null 2>&1 || true
  rm -rf "$service" "$WINEPREFIX/drive_c/users/Public/Quillet" "$WINEPREFIX/drive_c/ProgramData/Quillet"
  install_programs "$service"

  sc_case wine-not-installed query missing
  # The registration the installer runs.
  timeout 30 wine sc create QuilletVpnService binPath= '"C:\Program Files\Quillet\quillet-vpn-service.exe"' \
    start= demand >/dev/null 2>&1 || fail "sc create failed"
  sc_case wine-installed-stopped query stopped

  # Without a configuration the service stops at once with 1066 and names the
  # file it looked for: wine gives services "ProgramData" = C:\users\Public,
  # Windows gives them C:\ProgramData.
  timeout 30 wine sc start QuilletVpnService >/dev/null 2>&1 || true
  wait_state STOPPED 15 || fail "the service did not stop without a configuration"
  timeout 30 wine sc query QuilletVpnService 2>/dev/null | grep -q "WIN32_EXIT_CODE *: *1066" \
    || fail "a missing configuration should stop the service with 1066"
  local config_w
  config_w="$(tr -d '\r' < "$log" | sed -n 's/.*\] active config not found: //p' | tail -1)"
  case "$config_w" in
    [Cc]:\\*\\Quillet\\configs\\active.json) ;;
    *) fail "the service looked for its configuration at \"$config_w\"" ;;
  esac
  local shared_w="${config_w%\\configs\\active.json}"
  local rest="${shared_w:3}"
  local shared="$WINEPREFIX/drive_c/${rest//\\//}"
  echo "ok: without a configuration the service stops with 1066; its shared directory is $shared_w"

  mkdir -p "$shared/configs"
  rm -rf "$shared/runtime"
  printf '%s' "$safe_config" > "$shared/configs/active.json"
  sc_case wine-start start accepted
  wait_state RUNNING 15 || fail "the service did not reach RUNNING: $(cat "$log" 2>/dev/null)"
  sc_case wine-running query running
  sc_case wine-already-running start already
  local pid
  pid="$(tr -d '\r' < "$shared/runtime/engine-args.txt" | sed -n 's/^stand-in engine pid=//p')"
  [ -n "$pid" ] || fail "the engine did not record its process id"
  timeout 30 wine "$service/bin/sing-box.exe" alive "$pid" || fail "engine $pid not running under the service"
  grep -qF "\"C:\\Program Files\\Quillet\\bin\\sing-box.exe\" run -D \"$shared_w\\runtime\" -c \"$shared_w\\runtime\\active.checked.json\"" \
    "$shared/runtime/engine-args.txt" || { cat "$shared/runtime/engine-args.txt"; fail "engine command line under the service"; }
  echo "ok: sc start runs the engine under the service manager"

  local begin end
  begin=$(date +%s%N)
  timeout 30 wine sc stop QuilletVpnService >/dev/null 2>&1 || true
  wait_state STOPPED 15 || fail "the service did not stop"
  end=$(date +%s%N)
  if timeout 30 wine "$service/bin/sing-box.exe" alive "$pid"; then fail "engine $pid outlived the service"; fi
  local elapsed=$(((end - begin) / 1000000))
  echo "ok: sc stop ended the service and its engine in ${elapsed} ms (sc.exe's own start-up included)"
  [ "$elapsed" -le 5000 ] || fail "stopping took ${elapsed} ms, more than 5000"
  sc_case wine-stopped query stopped
  grep -qF "] stopped sing-box"$'\r' "$log" || fail "no \"stopped sing-box\" line"

  # A hostile document: the service refuses it and stops with the service-specific error.
  printf '%s' "$hostile_config" > "$shared/configs/active.json"
  timeout 30 wine sc start QuilletVpnService >/dev/null 2>&1 || true
  wait_state STOPPED 15 || fail "the service did not stop after refusing a configuration"
  timeout 30 wine sc query QuilletVpnService 2>/dev/null | grep -q "WIN32_EXIT_CODE *: *1066" \
    || fail "a refused configuration should stop the service with 1066"
  grep -q "refused active config: " "$log" || fail "no \"refused active config\" line"
  check_log_format "$log"
  echo "ok: a hostile configuration stops the service with 1066 and a log line"

  timeout 30 wine sc delete QuilletVpnService >/dev/null 2>&1 || fail "sc delete failed"
  sc_case wine-deleted query missing
  rm -rf "$service" "$shared"
  echo "--- wine's sc.exe answers, as the engine manager reads them:"
  "$QUILLET_SCANSWER_CHECK" "$answers" || { cat "$answers"; fail "the answer parser misread wine's sc.exe"; }
}

# The Run value "Quillet" under HKCU, written and removed by the client's code
# and seen by wine's own reg.exe in between.
autostart() {
  local run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
  local program='C:\Program Files\Quillet\quillet-desktop.exe'
  timeout 60 wine "$bin/winchecks.exe" autostart-on "$program" || fail "writing the Run value"
  local answer
  answer="$(timeout 30 wine reg query "$run_key" /v Quillet 2>/dev/null | tr -d '\r')"
  grep -qF "\"$program\" --minimized" <<<"$answer" || { echo "$answer"; fail "reg.exe does not see the Run value"; }
  echo "ok: reg.exe sees Quillet = \"$program\" --minimized"
  timeout 60 wine "$bin/winchecks.exe" autostart-off || fail "removing the Run value"
  if timeout 30 wine reg query "$run_key" /v Quillet >/dev/null 2>&1; then fail "the Run value is still there"; fi
  echo "ok: the Run value is gone"
}

case "$check" in
  service-console) service_console ;;
  service-scm) service_scm ;;
  aesgcm) timeout 60 wine "$bin/winchecks.exe" aesgcm "$(winpath "$QUILLET_WIN_WORK/aesgcm-cases.txt")" ;;
  ifcounters) timeout 60 wine "$bin/winchecks.exe" ifcounters ;;
  ping) timeout 60 wine "$bin/winchecks.exe" ping "$(winpath "$QUILLET_SOURCE_DIR/tests/windows/fixtures/ping")" ;;
  fatal-message) timeout 60 wine "$bin/winchecks.exe" fatal-message ;;
  motion) timeout 60 wine "$bin/winchecks.exe" motion ;;
  autostart) autostart ;;
  *) fail "unknown check $check" ;;
esac
