#!/usr/bin/env bash
# Ends this run's wine processes and removes its prefix.
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/wine-env.sh"
if command -v wineserver >/dev/null && [ -d "$WINEPREFIX" ]; then
  wineserver -k 2>/dev/null
  wineserver -w 2>/dev/null
fi
rm -rf "$QUILLET_WIN_WORK"
echo "ok: wine prefix removed"
