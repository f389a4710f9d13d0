#!/usr/bin/env bash
# Start-up time and idle memory of the client against a bare Qt Quick Controls
# window (bench_barewindow), plus the micro-benchmarks, as one table.
#   bash bench/startup.sh [BUILD_DIR]
# Environment: QUILLET_BENCH_RUNS (start-up runs per program, default 10),
# QUILLET_BENCH_IDLE_S (idle time before reading RSS, default 15),
# QUILLET_BENCH_PLATFORMS (default "xvfb offscreen").
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
runs="${QUILLET_BENCH_RUNS:-10}"
idle="${QUILLET_BENCH_IDLE_S:-15}"
platforms="${QUILLET_BENCH_PLATFORMS:-xvfb offscreen}"
client="$build/bin/quillet-desktop"
bare="$build/bin/bench_barewindow"
devserver_bin="$build/bin/quillet-devserver"
for program in "$client" "$bare" "$devserver_bin"; do
  [ -x "$program" ] || { echo "Missing $program: build it first." >&2; exit 1; }
done

# Nothing touches the real user's settings, caches or service data.
work="$(mktemp -d)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share"
export XDG_CACHE_HOME="$work/home/.cache" XDG_RUNTIME_DIR="$work/runtime" ProgramData="$work/ProgramData"
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$ProgramData"
mkdir -m 700 -p "$XDG_RUNTIME_DIR"
settings_dir="$XDG_CONFIG_HOME/Quillet"

port_file="$work/devserver.port"
"$devserver_bin" --dev --demo --port 0 --data-dir "$work/devserver" --port-file "$port_file" >"$work/devserver.log" 2>&1 &
pids+=($!)
for _ in $(seq 1 100); do [ -s "$port_file" ] && break; sleep 0.1; done
[ -s "$port_file" ] || { echo "The development backend did not start." >&2; exit 1; }
export TARN_API_BASE_URL="http://127.0.0.1:$(cat "$port_file")"

median() { sort -n | awk '{ v[NR] = $1 } END { if (NR == 0) print "-"; else if (NR % 2) print v[(NR + 1) / 2]; else print int((v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }

# Milliseconds from launch to the first swapped frame, as the program reports it.
# With "cold" the QML engine's disk cache is emptied first: the first start after
# an installation or update.
first_frame_ms() {
  local out
  [ "${2:-}" != cold ] || rm -rf "$XDG_CACHE_HOME/Quillet"
  out="$(QUILLET_LAUNCH_EPOCH_NS="$(date +%s%N)" timeout 60 "$1" --benchmark-startup 2>/dev/null || true)"
  sed -n 's/^first-frame-ms \([0-9]*\)$/\1/p' <<<"$out" | head -n 1
}

# Resident memory in MB of a program left idle for $idle seconds.
idle_rss_mb() {
  "$1" >/dev/null 2>&1 &
  local pid=$!
  sleep "$idle"
  local kb
  kb="$(awk '/^VmRSS:/ { print $2 }' "/proc/$pid/status" 2>/dev/null || echo 0)"
  rss_parts "$pid" >"$work/parts-$(basename "$1")"
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  echo $(( ${kb:-0} / 1024 ))
}

# Where the resident memory is, in MB: anonymous memory (heap: QML objects and
# type data, JS, scene graph, the software GL's buffers), the GL driver, Qt's
# libraries, fonts, everything else mapped from files.
rss_parts() {
  awk '
    /^[0-9a-f]+-[0-9a-f]+ / { path = $6; next }
    /^Rss:/ {
      kind = "other"
      if (path == "" || path ~ /^\[(heap|stack|anon)/) kind = "anon"
      else if (path ~ /(dri|mesa|libLLVM|libGL|libEGL|swrast|llvmpipe|libgallium)/) kind = "gl"
      else if (path ~ /libQt6/) kind = "qt"
      else if (path ~ /\.(ttf|ttc|otf|pfb)$/) kind = "fonts"
      kb[kind] += $2
    }
    END { printf "%d %d %d %d %d\n", kb["anon"] / 1024, kb["gl"] / 1024, kb["qt"] / 1024, kb["fonts"] / 1024, kb["other"] / 1024 }
  ' "/proc/$1/smaps" 2>/dev/null || echo "0 0 0 0 0"
}
parts_row() {
  local label="$1" client_parts bare_parts
  read -r -a client_parts <"$work/parts-$(basename "$client")"
  read -r -a bare_parts <"$work/parts-$(basename "$bare")"
  local names=("anonymous (heap, QML, JS, scene graph)" "GL driver" "Qt libraries" "fonts" "other files")
  for i in 0 1 2 3 4; do
    row "  $label: ${names[$i]}" "${client_parts[$i]}" "${bare_parts[$i]}" "+$((client_parts[i] - bare_parts[i]))"
  done
}

signed_out() { rm -rf "$settings_dir"; }
signed_in() {
  local answer token
  answer="$(curl -s --noproxy '*' -H 'Content-Type: application/json' \
    -d '{"email":"demo@quillet.dev","password":"Quillet-demo-2026"}' "$TARN_API_BASE_URL/api/v1/auth/login")"
  token="$(sed -n 's/.*"token" *: *"\([^"]*\)".*/\1/p' <<<"$answer")"
  [ -n "$token" ] || { echo "Sign-in at the development backend failed: $answer" >&2; exit 1; }
  rm -rf "$settings_dir"
  mkdir -p "$settings_dir"
  printf '[session]\ntoken=%s\nemail=demo@quillet.dev\nmembershipActive=true\n' "$token" >"$settings_dir/岚舟.conf"
}

ratio() { awk -v c="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", c / b; else print "-" }'; }

rows=()
row() { rows+=("$(printf '| %-44s | %10s | %10s | %9s |' "$@")"); }

for platform in $platforms; do
  if [ "$platform" = xvfb ]; then
    # A display number of its own: Xvfb picks a free one and writes it to the file.
    Xvfb -displayfd 4 -screen 0 1400x900x24 -nolisten tcp 4>"$work/display" 2>/dev/null &
    pids+=($!)
    for _ in $(seq 1 100); do [ -s "$work/display" ] && break; sleep 0.1; done
    display="$(tr -dc 0-9 <"$work/display")"
    [ -n "$display" ] || { echo "Xvfb did not start." >&2; exit 1; }
    export DISPLAY=":$display" QT_QPA_PLATFORM=xcb
  else
    export QT_QPA_PLATFORM=offscreen
  fi
  signed_out
  # One unmeasured start each fills the caches a returning user has.
  first_frame_ms "$client" >/dev/null; first_frame_ms "$bare" >/dev/null
  client_ms=() bare_ms=()
  for _ in $(seq 1 "$runs"); do
    client_ms+=("$(first_frame_ms "$client")")
    bare_ms+=("$(first_frame_ms "$bare")")
  done
  c="$(printf '%s\n' "${client_ms[@]}" | grep . | median)"
  b="$(printf '%s\n' "${bare_ms[@]}" | grep . | median)"
  row "launch -> first frame, ms ($platform, median $runs)" "$c" "$b" "x $(ratio "$c" "$b")"
  client_ms=()
  for _ in $(seq 1 "$runs"); do
    client_ms+=("$(first_frame_ms "$client" cold)")
    bare_ms+=("$(first_frame_ms "$bare")")
  done
  c="$(printf '%s\n' "${client_ms[@]}" | grep . | median)"
  row "  the same, no QML disk cache ($platform)" "$c" "$b" "x $(ratio "$c" "$b")"

  bare_rss="$(idle_rss_mb "$bare")"
  signed_out
  rss="$(idle_rss_mb "$client")"
  row "RSS after ${idle} s, MB: sign-in page ($platform)" "$rss" "$bare_rss" "+$((rss - bare_rss))"
  parts_row "sign-in ($platform)"
  signed_in
  rss="$(idle_rss_mb "$client")"
  row "RSS after ${idle} s, MB: connect page ($platform)" "$rss" "$bare_rss" "+$((rss - bare_rss))"
  signed_out
done

# QtTest benchmarks: one row per data row, in the unit QtTest reports.
for bench in bench_translations bench_documents; do
  [ -x "$build/bin/$bench" ] || continue
  while IFS= read -r line; do
    row "$line" "" "" ""
  done < <(QT_QPA_PLATFORM=offscreen "$build/bin/$bench" 2>/dev/null | awk '
    /^RESULT : / { name = substr($0, 10); sub(/:$/, "", name); getline; print name ": " $1 " " $2 }')
done

printf '| %-44s | %10s | %10s | %9s |\n' "measure" "client" "bare" "vs bare"
printf '|%s|%s|%s|%s|\n' "$(printf -- '-%.0s' {1..46})" "------------" "------------" "-----------"
printf '%s\n' "${rows[@]}"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
