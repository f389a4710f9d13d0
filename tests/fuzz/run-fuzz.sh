#!/usr/bin/env bash
# Builds the configuration-check fuzzer with clang's libFuzzer and runs it for
# a while (seconds, default 20) from the accepted and hostile documents.
# Skipped (exit 0) without clang++.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
out="${1:?usage: run-fuzz.sh OUT_DIR [SECONDS]}"
seconds="${2:-20}"
cxx="${FUZZ_CXX:-clang++}"
if ! command -v "$cxx" >/dev/null; then
  echo "skipped: $cxx not installed"
  exit 0
fi
mkdir -p "$out/corpus"
"$cxx" -std=c++17 -O1 -g -fsanitize=fuzzer,address,undefined -I"$root/service" \
  "$root/tests/fuzz/fuzz_configguard.cpp" "$root/service/configguard.cpp" "$root/service/configallowlist.cpp" \
  "$root/service/jsonreader.cpp" -o "$out/fuzz_configguard"
# New inputs go to the first folder only; the checked-in documents stay as they are.
"$out/fuzz_configguard" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=1024 -print_final_stats=1 \
  "$out/corpus" "$root/tests/data/accepted" "$root/tests/data/hostile"
