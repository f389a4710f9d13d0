#!/usr/bin/env bash
# Builds the non-interface tests with AddressSanitizer and UndefinedBehavior-
# Sanitizer into build-sanitize/ (or $QUILLET_SANITIZE_BUILD_DIR) and runs them
# (labels unit, controller, integration, devserver, service), then, with clang,
# every fuzz target for 20 s, two at a time. Any sanitizer report fails the run.
# The state-truth walk takes one seed here (QUILLET_STATETRUTH_SEED, default
# 20251, 60 steps); the main suite walks three.
# Uses clang when installed (its "undefined" set includes float-to-int
# overflow; it also builds the libFuzzer targets), else the default compiler.
# Extra arguments go to cmake.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${QUILLET_SANITIZE_BUILD_DIR:-$root/build-sanitize}"
jobs="${QUILLET_JOBS:-$(nproc)}"
fuzz=OFF
if command -v clang++ >/dev/null; then
  export CC="${CC:-clang}" CXX="${CXX:-clang++}"
  [[ "$CXX" == *clang* ]] && fuzz=ON
fi
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  # Files compiled with a precompiled header are cached only with these.
  export CCACHE_SLOPPINESS="${CCACHE_SLOPPINESS:-pch_defines,time_macros,include_file_mtime,include_file_ctime}"
fi
# -O1 and line tables only: quick to build, fast enough to run, readable reports.
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -gline-tables-only" \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -gline-tables-only" \
  -DQUILLET_SANITIZERS=ON -DQUILLET_FUZZ="$fuzz" -DQUILLET_BUILD_BENCH=OFF "${launcher[@]}" "$@" >/dev/null
[[ -n "${QUILLET_SANITIZE_BUILD_ONLY:-}" ]] && exit 0
targets=(quillet_nonui_tests)
[[ "$fuzz" == ON ]] && targets+=(quillet_fuzz_targets)
cmake --build "$build" -j "$jobs" --target "${targets[@]}"

export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR="$(mktemp -d)"
chmod 700 "$XDG_RUNTIME_DIR"
# Leaks inside the system's libraries (fontconfig, glib) are listed in the
# suppressions file by library name only; a leak in our code is a failure.
export ASAN_OPTIONS="halt_on_error=1:exitcode=23:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1"
export LSAN_OPTIONS="suppressions=$root/tests/sanitizer/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:exitcode=24"
# Every step of the walk costs more under the sanitizers; one of the main
# suite's three seeds keeps the run short.
export QUILLET_STATETRUTH_SEED="${QUILLET_STATETRUTH_SEED:-20251}"
export QUILLET_STATETRUTH_STEPS="${QUILLET_STATETRUTH_STEPS:-60}"
# Neither the interface tests nor the Windows checks (mingw, wine) take part.
status=0
ctest --test-dir "$build" --output-on-failure -j "$jobs" --timeout 900 \
  -L '^(unit|controller|integration|devserver|service)$' -LE '^(ui|windows|fuzz)$' \
  -E '^(tst_singleinstance|windows_.*)$' || status=1
# The fuzz smoke runs go ahead even after a failure above: both results count.
if [[ "$fuzz" == ON ]]; then
  ctest --test-dir "$build" --output-on-failure -j 2 -L fuzz || status=1
fi
exit "$status"
