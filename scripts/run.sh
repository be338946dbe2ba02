#!/usr/bin/env bash
# Installs what is missing, builds the viewer and the demo forum, starts the demo forum and then
# the viewer against it. The demo forum stops when the viewer exits. A build configured for a
# real forum (-DFORUM_BASE_URL=...) runs the viewer alone.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset default
cmake --build --preset default --target thread-viewer demo-forum

build=build/default
base_url=$(sed -n 's/^FORUM_BASE_URL:[A-Z]*=//p' "$build/CMakeCache.txt")
feedback_url=$(sed -n 's/^FEEDBACK_URL:[A-Z]*=//p' "$build/CMakeCache.txt")
viewer=$(find "$build" -path "$build/_CPack_Packages" -prune -o -type f -name thread-viewer -perm -u+x -print -quit)
demo_forum=$build/tools/demo-forum/demo-forum
if [ -z "$viewer" ]; then
    echo "run: the build made no thread-viewer executable" >&2
    exit 1
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "run: there is no display (neither DISPLAY nor WAYLAND_DISPLAY is set)." >&2
    echo "run: start it inside a virtual X server:  xvfb-run -a scripts/run.sh" >&2
    echo "run: or without any window:               QT_QPA_PLATFORM=offscreen scripts/run.sh" >&2
    exit 1
fi

# The web engine's sandbox cannot run as root.
if [ "$(id -u)" -eq 0 ] && [ -z "${QTWEBENGINE_DISABLE_SANDBOX:-}" ]; then
    export QTWEBENGINE_DISABLE_SANDBOX=1
fi

# Only a build for a forum on this machine gets the demo forum; a real forum is left alone.
case "$base_url" in
http://127.0.0.1:*/* | http://localhost:*/* | http://127.0.0.1/* | http://localhost/*)
    start_demo=1 ;;
*)
    start_demo=0 ;;
esac

demo_pid=
viewer_pid=
stop_child() {
    local pid=$1
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}
stop_all() {
    [ -z "$viewer_pid" ] || stop_child "$viewer_pid"
    [ -z "$demo_pid" ] || stop_child "$demo_pid"
    viewer_pid= demo_pid=
}
trap stop_all EXIT
trap 'stop_all; exit 130' INT
trap 'stop_all; exit 143' TERM

if [ "$start_demo" -eq 1 ]; then
    newest_url="${base_url}forum.php?mod=guide&view=new"
    if curl -s -o /dev/null --noproxy '*' --max-time 2 "$newest_url"; then
        echo "run: something already answers at $base_url; stop it first (a demo-forum left running?)" >&2
        exit 1
    fi
    "$demo_forum" --base-url "$base_url" </dev/null &
    demo_pid=$!
    # Wait, at most ten seconds, until the forum answers.
    answered=0
    for _ in $(seq 1 100); do
        if ! kill -0 "$demo_pid" 2>/dev/null; then
            demo_pid=
            break
        fi
        if curl -s -o /dev/null --noproxy '*' --max-time 1 "$newest_url"; then
            answered=1
            break
        fi
        sleep 0.1
    done
    if [ "$answered" -ne 1 ]; then
        echo "run: the demo forum did not start at $base_url" >&2
        exit 1
    fi
    echo "run: demo forum at $base_url, suggestions go to $feedback_url"
else
    echo "run: built for the forum at $base_url; no demo forum is started"
fi

# In the background, so that a signal to this script reaches the trap while the viewer runs.
"$viewer" "$@" &
viewer_pid=$!
status=0
wait "$viewer_pid" || status=$?
viewer_pid=
exit "$status"
