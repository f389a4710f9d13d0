#!/usr/bin/env bash
# The catalogue benchmark for 8, 1,000 and 5,000 nodes (or the counts given), each
# in a process of its own and RUNS times (default 3), so the medians can be read.
#   bench/catalogue.sh [build dir] [counts...]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build}"
shift || true
counts=("$@")
[ ${#counts[@]} -gt 0 ] || counts=(8 1000 5000)
for count in "${counts[@]}"; do
  for run in $(seq 1 "${RUNS:-3}"); do
    echo "== bench_catalogue $count (run $run)"
    QT_QPA_PLATFORM=offscreen "$build/bin/bench_catalogue" "$count" | grep -E "^RESULT"
  done
done
