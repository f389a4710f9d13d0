#!/usr/bin/env bash
# The main job: installs what is missing, builds, starts the local development
# backend with demo data and opens the client pointed at it.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${QUILLET_BUILD_DIR:-$root/build}"
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"

state="${QUILLET_RUN_DIR:-$root/.run}"
mkdir -p "$state/devserver"
pids=()
cleanup() { for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done; }
trap cleanup EXIT

# The engine: the real sing-box when one is found, otherwise the stand-in
# (it answers like sing-box but opens no tunnel). The client and the tunnel
# service both take it from TARN_SINGBOX_BINARY.
if [ -z "${TARN_SINGBOX_BINARY:-}" ] && [ -x "$build/bin/bin/sing-box" ]; then
  export TARN_SINGBOX_BINARY="$build/bin/bin/sing-box"
fi
if [ -n "${TARN_SINGBOX_BINARY:-}" ]; then
  echo "Engine: $TARN_SINGBOX_BINARY"
elif [ -x "$build/tests-bin/sing-box" ]; then
  export TARN_SINGBOX_BINARY="$build/tests-bin/sing-box"
  echo "No sing-box found: the stand-in engine takes its place ($TARN_SINGBOX_BINARY); it opens no tunnel."
  echo "To use the real engine see README, \"The engine\"."
else
  echo "No sing-box found and no stand-in built: connecting will fail (see README, \"The engine\")."
fi
# Without the systemd unit the tunnel service runs in user mode, as you, on a
# shared data directory of its own; it ends with this run.
if ! systemctl cat quillet-vpn.service >/dev/null 2>&1; then
  export ProgramData="${ProgramData:-$state/ProgramData}"
  mkdir -p "$ProgramData"
  trap '"$build/bin/quillet-servicectl" stop QuilletVpnService >/dev/null 2>&1 || true; cleanup' EXIT
fi

if [ -x "$build/bin/quillet-devserver" ]; then
  # The same port as last time and the same data: a second run keeps the session.
  . "$root/scripts/devserver-start.sh"
  : > "$state/devserver.log"
  start_devserver "$build/bin/quillet-devserver" "$state" || { echo "The development backend did not start." >&2; exit 1; }
  pids+=("$devserver_pid")
  export TARN_API_BASE_URL="http://127.0.0.1:$devserver_port"
  echo "Development backend: $TARN_API_BASE_URL (log: $state/devserver.log)"
  echo "Demo accounts: demo@quillet.dev / Quillet-demo-2026 (member), trial@quillet.dev / Quillet-trial-2026"
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  # No desktop session (a server or CI machine): give the client a virtual screen.
  export DISPLAY=:97
  Xvfb "$DISPLAY" -screen 0 1400x900x24 -nolisten tcp >/dev/null 2>&1 &
  pids+=($!)
  sleep 1
  echo "No display found: the client runs on the virtual screen $DISPLAY (see scripts/screenshot.sh)."
fi

"$build/bin/quillet-desktop" "$@"
