# Sourced by the wine checks. Needs QUILLET_WIN_WORK (this run's scratch
# directory) and QUILLET_WIN_PROGRAMS (the cross-compiled programs).
# One wine prefix per test run, under the scratch directory: never the user's.
export WINEPREFIX="$QUILLET_WIN_WORK/prefix"
export WINEARCH=win64
export WINEDEBUG=-all
# No Mono or Gecko downloads, no windows on any display.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

wine_missing() {
  if ! command -v wine >/dev/null || ! command -v wineserver >/dev/null; then
    echo "SKIPPED: wine is not installed (Debian: apt-get install wine wine64)"
    return 0
  fi
  if [ -f "$QUILLET_WIN_PROGRAMS/unavailable.txt" ]; then
    echo "SKIPPED: the Windows programs were not built: $(cat "$QUILLET_WIN_PROGRAMS/unavailable.txt")"
    return 0
  fi
  return 1
}

# A Windows path for a file of this machine (wine maps "/" to drive Z:).
winpath() {
  printf 'Z:%s' "${1//\//\\}"
}

fail() {
  echo "FAIL: $*"
  exit 1
}
