#!/usr/bin/env bash
# Shows the progress dialog under the virtual display and saves screen captures of it:
#   screenshot.sh HOST_EXE OUTPUT_DIR
# Writes OUTPUT_DIR/progress-dialog.png (the dialog's window) and progress-dialog-screen.png (the
# whole screen). Fails when the dialog's window does not appear, when a capture is missing, or when
# the window's capture is blank. Runs under its own virtual display when DISPLAY is not set.
set -u
if [ $# -ne 2 ] || [ "$1" = "--help" ]; then sed -n '2,6s/^# \{0,1\}//p' "$0"; exit 2; fi
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi
host=$1 out=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
mkdir -p "$out"
rm -f "$out/progress-dialog.png" "$out/progress-dialog-screen.png"

# The host pumps until this file exists; it sees it through Wine's drive Z:, the Unix root.
marker=$(mktemp -u "${TMPDIR:-/tmp}/vennholt-screenshot.XXXXXX")
"${VENNHOLT_WINE_RUNNER:-$root/scripts/wine-run}" "$host" --hold "Z:${marker//\//\\}" &
host_pid=$!
finish() {
    touch "$marker"
    wait "$host_pid"
    local status=$?
    rm -f "$marker"
    return $status
}

# The dialog's X window carries the window title; wait at most 20 s for it.
window=""
for _ in $(seq 200); do
    window=$(xwininfo -root -tree 2>/dev/null | grep -F 'Vennholt' | awk '{print $1}' | head -n 1)
    [ -n "$window" ] && break
    kill -0 "$host_pid" 2>/dev/null || break
    sleep 0.1
done
if [ -z "$window" ]; then
    echo "screenshot: the progress dialog did not appear"
    finish
    exit 1
fi
sleep 0.5  # let the dialog finish painting
import -display "$DISPLAY" -window "$window" "$out/progress-dialog.png"
import -display "$DISPLAY" -window root "$out/progress-dialog-screen.png"
finish || { echo "screenshot: the host failed"; exit 1; }

colours=$(identify -format '%k' "$out/progress-dialog.png" 2>/dev/null || echo 0)
geometry=$(identify -format '%wx%h' "$out/progress-dialog.png" 2>/dev/null || echo none)
echo "screenshot: $out/progress-dialog.png ($geometry, $colours colours) and progress-dialog-screen.png"
if [ ! -s "$out/progress-dialog-screen.png" ] || [ "$colours" -lt 8 ]; then
    echo "screenshot: the capture is missing or blank"
    exit 1
fi
