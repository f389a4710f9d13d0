#!/usr/bin/env bash
# Runs the benchmarks of an existing build (default build/) and prints their results.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build}"
for bench in "$build"/bin/bench_*; do
  [ -x "$bench" ] || continue
  echo "== $(basename "$bench")"
  QT_QPA_PLATFORM=offscreen "$bench" | grep -E "^(RESULT|     [0-9]|Totals)"
done
