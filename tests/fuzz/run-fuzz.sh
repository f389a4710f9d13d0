#!/usr/bin/env bash
# Runs one fuzz target for SECONDS (default 60) from its seed corpus.
#   bash tests/fuzz/run-fuzz.sh TARGET [SECONDS]     e.g. run-fuzz.sh envelope 600
# TARGET is the name after "fuzz_" (configguard, jsonreader, normalization, ...).
# Without QUILLET_FUZZ_BINARY it first builds the target in build-sanitize/
# (clang, sanitizers, libFuzzer). New inputs it finds go to a work folder
# (QUILLET_FUZZ_WORK, default build-sanitize/fuzz-corpus); the checked-in seeds
# stay as they are. A crash or a broken property leaves "crash-*" there.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
target="${1:?usage: run-fuzz.sh TARGET [SECONDS]}"
seconds="${2:-60}"
build="${QUILLET_SANITIZE_BUILD_DIR:-$root/build-sanitize}"
binary="${QUILLET_FUZZ_BINARY:-}"
if [[ -z "$binary" ]]; then
  if ! command -v clang++ >/dev/null; then
    echo "skipped: clang++ not installed"
    exit 0
  fi
  QUILLET_SANITIZE_BUILD_ONLY=1 bash "$root/scripts/test-sanitizers.sh"
  cmake --build "$build" --target "fuzz_$target"
  binary="$build/bin/fuzz_$target"
fi
binary="$(realpath "$binary")"
work="${QUILLET_FUZZ_WORK:-$build/fuzz-corpus}/$target"
mkdir -p "$work"
seeds=("$root/tests/data/fuzz/$target")
case "$target" in
  # Whole engine documents, accepted and refused, seed the document parsers.
  configguard|jsonreader|normalization)
    seeds+=("$root/tests/data/accepted" "$root/tests/data/hostile" "$root/tests/data/refused") ;;
esac
# The sanitizers stop at the first report; libFuzzer turns it into a failure.
export ASAN_OPTIONS="${ASAN_OPTIONS:-halt_on_error=1:detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}"
cd "$work"
exec "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
  -print_final_stats=1 -artifact_prefix="$work/" "$work" "${seeds[@]}"
