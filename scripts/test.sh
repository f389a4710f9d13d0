#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test headless, then the
# sanitizer build's tests and fuzz smoke runs (scripts/test-sanitizers.sh).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${QUILLET_BUILD_DIR:-$root/build}"
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
export QT_QPA_PLATFORM=offscreen
# Keep the tests' runtime files out of the real user's folders.
export XDG_RUNTIME_DIR="$(mktemp -d)"
chmod 700 "$XDG_RUNTIME_DIR"
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" --timeout 600
# Then the non-interface tests again under the address and undefined-behaviour
# sanitizers, and a short run of every fuzz target (build-sanitize/).
# QUILLET_SKIP_SANITIZERS=1 leaves that out.
if [[ -z "${QUILLET_SKIP_SANITIZERS:-}" ]]; then
  "$root/scripts/test-sanitizers.sh"
fi
