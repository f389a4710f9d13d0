#!/usr/bin/env bash
# Cross-compiles and links the Windows service program with mingw-w64, so the
# Win32 service (with the helpers it shares with the Linux one) is known to
# build from this tree.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
cxx="${MINGW_CXX:-x86_64-w64-mingw32-g++}"
if ! command -v "$cxx" >/dev/null; then
  echo "skipped: $cxx not installed"
  exit 0
fi
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
"$cxx" -std=c++17 -O2 -Wall -Wextra -Werror -DUNICODE -D_UNICODE -municode -static -I"$here" \
  "$here/service_win.cpp" "$here/servicecommon.cpp" "$here/jsonreader.cpp" "$here/configguard.cpp" "$here/configallowlist.cpp" \
  -o "$out/quillet-vpn-service.exe"
echo "ok: quillet-vpn-service.exe links ($(stat -c %s "$out/quillet-vpn-service.exe") bytes)"
