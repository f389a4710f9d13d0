#!/usr/bin/env bash
# Compile-checks the Qt-free Windows sources with mingw-w64, so code that only
# builds on Windows is known to build.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cxx="${MINGW_CXX:-x86_64-w64-mingw32-g++}"
if ! command -v "$cxx" >/dev/null; then
  echo "skipped: $cxx not installed"
  exit 0
fi
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
status=0
count=0
while IFS= read -r -d '' file; do
  # Files that include Qt are built by the Windows Qt build, not here.
  if grep -qE '#include <Q|#include "(platform/)?platform.h"' "$file"; then continue; fi
  count=$((count + 1))
  if "$cxx" -std=c++17 -Wall -Wextra -Werror -DUNICODE -D_UNICODE -I"$root/client" -I"$root/service" \
      -c "$file" -o "$out/$(basename "$file").o"; then
    echo "ok: ${file#$root/}"
  else
    echo "FAILED: ${file#$root/}"
    status=1
  fi
done < <(find "$root/client" "$root/service" -name '*_win.cpp' -print0 2>/dev/null)
echo "$count Windows source file(s) checked"
exit $status
