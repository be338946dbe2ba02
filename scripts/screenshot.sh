#!/usr/bin/env bash
# Makes docs/screenshot.png: the viewer, built for the demo forum, showing the demo forum's
# newest thread in a virtual X server. Needs the default build (FORUM_BASE_URL of the demo).
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs/screenshot.png}

bash scripts/setup.sh
for tool in xvfb-run:xvfb import:imagemagick; do
    if ! command -v "${tool%%:*}" >/dev/null; then
        sudo=()
        [ "$(id -u)" -eq 0 ] || sudo=(sudo)
        "${sudo[@]}" apt-get install -y -q "${tool#*:}"
    fi
done

cmake --preset default >/dev/null
cmake --build --preset default --target thread-viewer demo-forum
build=build/default
base_url=$(sed -n 's/^FORUM_BASE_URL:[A-Z]*=//p' "$build/CMakeCache.txt")
if [ "$base_url" != "http://127.0.0.1:18080/" ]; then
    echo "screenshot: $build is configured for $base_url, not for the demo forum" >&2
    exit 1
fi
viewer=$(find "$build" -path "$build/_CPack_Packages" -prune -o -type f -name thread-viewer -perm -u+x -print -quit)

scratch=$(mktemp -d "${TMPDIR:-/tmp}/viewer-shot.XXXXXX")
forum_pid=
cleanup() {
    if [ -n "$forum_pid" ]; then
        kill "$forum_pid" 2>/dev/null || true
        wait "$forum_pid" 2>/dev/null || true
    fi
    rm -rf "$scratch"
}
trap cleanup EXIT

"$build/tools/demo-forum/demo-forum" >"$scratch/forum.log" 2>&1 </dev/null &
forum_pid=$!
for _ in $(seq 1 100); do
    grep -q listening "$scratch/forum.log" && break
    sleep 0.1
done
grep -q listening "$scratch/forum.log" || { cat "$scratch/forum.log"; exit 1; }

# Inside the X server: start the viewer, wait until its view has asked for the newest thread and
# has had time to draw it, grab the screen, end the viewer.
cat >"$scratch/inside.sh" <<'EOF'
set -euo pipefail
viewer=$1 log=$2 shot=$3
"$viewer" >/dev/null 2>&1 </dev/null &
pid=$!
for _ in $(seq 1 600); do
    grep -q '^GET /frame-987.html' "$log" && break
    kill -0 "$pid" 2>/dev/null || { echo "screenshot: the viewer ended early" >&2; exit 1; }
    sleep 0.1
done
grep -q '^GET /frame-987.html' "$log" || { echo "screenshot: thread 987 never loaded" >&2; exit 1; }
sleep 3
import -window root "$shot"
kill "$pid"
wait "$pid" 2>/dev/null || true
EOF
mkdir -p "$scratch/home"
# The web engine's sandbox cannot run as root.
if [ "$(id -u)" -eq 0 ] && [ -z "${QTWEBENGINE_DISABLE_SANDBOX:-}" ]; then
    export QTWEBENGINE_DISABLE_SANDBOX=1
fi
HOME="$scratch/home" xvfb-run -a -s "-screen 0 1100x600x24" \
    bash "$scratch/inside.sh" "$PWD/$viewer" "$scratch/forum.log" "$scratch/root.png"

# The X server has no window manager: the window sits on a black screen, so trim the black.
mkdir -p "$(dirname "$out")"
convert "$scratch/root.png" -bordercolor black -border 1 -trim +repage -strip "$out"
echo "screenshot: wrote $out ($(identify -format '%wx%h' "$out"))"
