#!/usr/bin/env bash
# CPU of the window per state and memory after every page, under Xvfb with
# Mesa's software GL (the figures of a machine or remote desktop without a GPU).
#   bash bench/window.sh [BUILD_DIR] [seconds per state, default 30]
# QUILLET_BENCH_PLATFORMS="xvfb offscreen" measures both (default xvfb).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
seconds="${2:-30}"
bench="$build/bin/bench_window"
[ -x "$bench" ] || { echo "Missing $bench: build it first." >&2; exit 1; }
for platform in ${QUILLET_BENCH_PLATFORMS:-xvfb}; do
  echo "== $platform"
  if [ "$platform" = xvfb ]; then
    LIBGL_ALWAYS_SOFTWARE=1 QT_QPA_PLATFORM=xcb xvfb-run -a -s '-screen 0 1400x900x24 -nolisten tcp' \
      "$bench" "$seconds" 2>/dev/null | grep '^RESULT'
  else
    QT_QPA_PLATFORM=offscreen "$bench" "$seconds" 2>/dev/null | grep '^RESULT'
  fi
done
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
