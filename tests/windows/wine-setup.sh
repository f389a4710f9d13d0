#!/usr/bin/env bash
# Creates this run's wine prefix (shared by the wine checks) and the BCrypt
# cases; the first start of wine in a new prefix takes a while.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/wine-env.sh"
if wine_missing; then exit 0; fi
if [ -d "$WINEPREFIX" ]; then wineserver -k 2>/dev/null || true; fi
rm -rf "$QUILLET_WIN_WORK"
mkdir -p "$QUILLET_WIN_WORK"
"$QUILLET_AESGCM_FIXTURES" "$QUILLET_WIN_WORK/aesgcm-cases.txt"
start=$SECONDS
timeout 240 wine wineboot --init >/dev/null 2>&1 || fail "wineboot did not finish"
timeout 120 wineserver --wait || true
[ -d "$WINEPREFIX/drive_c/ProgramData" ] || fail "the new prefix has no C:\\ProgramData"
echo "ok: wine prefix ready in $((SECONDS - start)) s at $WINEPREFIX"
