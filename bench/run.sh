#!/usr/bin/env bash
# Runs the benchmarks of an existing build (default build/) and prints their results.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build}"
for bench in "$build"/bin/bench_*; do
  [ -x "$bench" ] || continue
  case "$(basename "$bench")" in
    # Measured by startup.sh below: the yardstick window and the table's own micro-benchmarks;
    # the window at rest by window.sh, under Xvfb.
    bench_barewindow | bench_translations | bench_documents | bench_window) continue ;;
  esac
  echo "== $(basename "$bench")"
  QT_QPA_PLATFORM=offscreen "$bench" | grep -E "^(RESULT|     [0-9]|Totals)"
done
echo "== the window at rest: CPU per state, memory after every page"
bash "$root/bench/window.sh" "$build"
echo "== start-up, memory and documents"
bash "$root/bench/startup.sh" "$build"
