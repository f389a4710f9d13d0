#!/usr/bin/env bash
# Cross-compiles the Windows programs the wine checks run: the service program,
# the stand-in engine and the OS-call checks. Static runtime, so wine needs no
# extra DLLs. Usage: build-programs.sh OUTDIR
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
out="$1"
cxx="${MINGW_CXX:-x86_64-w64-mingw32-g++}"
mkdir -p "$out"
if ! command -v "$cxx" >/dev/null; then
  echo "skipped: $cxx not installed" > "$out/unavailable.txt"
  exit 0
fi
launcher=()
if command -v ccache >/dev/null; then launcher=(ccache); fi
flags=(-std=c++17 -O1 -Wall -Wextra -Werror -DUNICODE -D_UNICODE -static -static-libgcc -static-libstdc++)
"${launcher[@]}" "$cxx" "${flags[@]}" -municode -I"$root/service" \
  "$root/service/service_win.cpp" "$root/service/servicecommon.cpp" "$root/service/jsonreader.cpp" \
  "$root/service/configguard.cpp" "$root/service/configallowlist.cpp" -o "$out/quillet-vpn-service.exe"
"${launcher[@]}" "$cxx" "${flags[@]}" -municode "$root/tests/windows/standin_engine_win.cpp" -o "$out/sing-box.exe"
"${launcher[@]}" "$cxx" "${flags[@]}" -I"$root/client" -I"$root/client/platform" -I"$root/client/model" \
  "$root/tests/windows/winchecks_win.cpp" "$root/client/platform/aesgcm_win.cpp" \
  "$root/client/platform/ifcounters_win.cpp" "$root/client/platform/fatalmessage_win.cpp" \
  "$root/client/platform/autostart_win.cpp" \
  "$root/client/platform/motion_win.cpp" "$root/client/platform/motion_common.cpp" \
  "$root/client/model/pingoutput.cpp" -lbcrypt -liphlpapi -luser32 -ladvapi32 -ldwmapi -o "$out/winchecks.exe"
rm -f "$out/unavailable.txt"
