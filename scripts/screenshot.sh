#!/usr/bin/env bash
# Takes a screenshot of the desktop client on a virtual X display.
#
#   scripts/screenshot.sh [--language CODE] [BUILD_DIR] [OUTPUT_PNG]
#
# BUILD_DIR defaults to "build", OUTPUT_PNG to "screenshots/main.png". The client
# runs with its own temporary HOME, XDG directories and ProgramData, so the
# user's settings and session are never read or touched. The stored interface
# language is set before the client starts: --language CODE (zh-Hans, zh-Hant,
# en, ru, fr, ko, ja; default zh-Hans, the source language), or "system" to
# follow the locale of the environment. Builds nothing. Needs Xvfb and
# ImageMagick's "import".
set -euo pipefail

language="zh-Hans"
positional=()
while [[ $# -gt 0 ]]; do
    case "$1" in
        --language)
            [[ $# -ge 2 ]] || { echo "screenshot.sh: --language needs a value" >&2; exit 2; }
            language="$2"
            shift 2
            ;;
        --language=*)
            language="${1#--language=}"
            shift
            ;;
        -h|--help)
            sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'
            exit 0
            ;;
        *)
            positional+=("$1")
            shift
            ;;
    esac
done

build_dir="${positional[0]:-build}"
output="${positional[1]:-screenshots/main.png}"
client="$build_dir/bin/quillet-desktop"
settle_seconds="${QUILLET_SCREENSHOT_WAIT:-3}"

for tool in Xvfb import; do
    command -v "$tool" >/dev/null 2>&1 || { echo "screenshot.sh: $tool is not installed" >&2; exit 1; }
done
[[ -x "$client" ]] || { echo "screenshot.sh: no client program at $client (build it first)" >&2; exit 1; }

mkdir -p "$(dirname "$output")"
work="$(mktemp -d "${TMPDIR:-/tmp}/quillet-shot.XXXXXX")"
xvfb_pid=""
client_pid=""

cleanup() {
    if [[ -n "$client_pid" ]] && kill -0 "$client_pid" 2>/dev/null; then
        kill "$client_pid" 2>/dev/null || true
        wait "$client_pid" 2>/dev/null || true
    fi
    if [[ -n "$xvfb_pid" ]] && kill -0 "$xvfb_pid" 2>/dev/null; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

# The first display number from 99 up that has neither a lock file nor a socket.
display_number=99
while [[ -e "/tmp/.X${display_number}-lock" || -e "/tmp/.X11-unix/X${display_number}" ]]; do
    display_number=$((display_number + 1))
    if [[ $display_number -gt 199 ]]; then
        echo "screenshot.sh: no free X display between :99 and :199" >&2
        exit 1
    fi
done
display=":${display_number}"

Xvfb "$display" -screen 0 1400x900x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 1 50); do
    [[ -e "/tmp/.X11-unix/X${display_number}" ]] && break
    kill -0 "$xvfb_pid" 2>/dev/null || { echo "screenshot.sh: Xvfb did not start:" >&2; cat "$work/xvfb.log" >&2; exit 1; }
    sleep 0.1
done

mkdir -p "$work/home" "$work/config" "$work/data" "$work/cache" "$work/runtime" "$work/ProgramData"
chmod 700 "$work/runtime"

if [[ -n "$language" && "$language" != "system" ]]; then
    # QSettings' native format on Linux: an INI file named after organization and application.
    mkdir -p "$work/config/Quillet"
    printf '[settings]\nlanguage=%s\n' "$language" >"$work/config/Quillet/岚舟.conf"
fi

env HOME="$work/home" \
    XDG_CONFIG_HOME="$work/config" \
    XDG_DATA_HOME="$work/data" \
    XDG_CACHE_HOME="$work/cache" \
    XDG_RUNTIME_DIR="$work/runtime" \
    ProgramData="$work/ProgramData" \
    DISPLAY="$display" \
    QT_QPA_PLATFORM=xcb \
    "$client" >"$work/client.log" 2>&1 &
client_pid=$!

sleep "$settle_seconds"
if ! kill -0 "$client_pid" 2>/dev/null; then
    echo "screenshot.sh: the client exited early:" >&2
    cat "$work/client.log" >&2
    exit 1
fi

DISPLAY="$display" import -window root "$output"
echo "$output"
