#!/usr/bin/env bash
# Builds the Debian package, unpacks it into a scratch folder, checks its dependencies and starts
# the unpacked program on the offscreen platform against the demo forum on the default port,
# until the web view asks for the newest thread.
set -euo pipefail
build=$1
demo_forum=$2
base_url=$3

if [ "$base_url" != "http://127.0.0.1:18080/" ]; then
    echo "skipped: this build is for the forum at $base_url, not the demo forum"
    exit 77
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/viewer-deb.XXXXXX")
forum_pid=
viewer_pid=
stop() {
    # Signal, then wait at most five seconds before the hard stop.
    local pid=$1 target=$2
    kill -TERM -- "$target" 2>/dev/null || return 0
    for _ in $(seq 1 50); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL -- "$target" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}
cleanup() {
    [ -z "$viewer_pid" ] || stop "$viewer_pid" "-$viewer_pid"
    [ -z "$forum_pid" ] || stop "$forum_pid" "$forum_pid"
    rm -rf "$scratch"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    for log in "$scratch"/*.log; do
        [ -e "$log" ] && { echo "--- $(basename "$log")"; tail -n 40 "$log"; }
    done
    exit 1
}

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/pkg" >"$scratch/cpack.log" 2>&1 ||
    fail "cpack"
deb=$(find "$scratch/pkg" -maxdepth 1 -name '*.deb' -print -quit)
[ -n "$deb" ] || fail "cpack made no .deb"

[ "$(dpkg-deb -f "$deb" Version)" = "1.0.0.0" ] || fail "version is not 1.0.0.0"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for need in libqt6webenginewidgets6 libqt6webenginecore6-bin libcurl4 fonts-noto-cjk; do
    # Each entry is "name", "name (>= version)" or alternatives joined by "|".
    echo "$depends" | tr ',|' '\n\n' | sed 's/^ *//; s/[ (].*//' | grep -qx "$need" ||
        fail "Depends lacks $need"
done

root=$scratch/root
dpkg-deb -x "$deb" "$root"
viewer=$root/usr/bin/thread-viewer
[ -x "$viewer" ] || fail "the package holds no usr/bin/thread-viewer"

"$demo_forum" >"$scratch/forum.log" 2>&1 </dev/null &
forum_pid=$!
for _ in $(seq 1 100); do
    grep -q "listening" "$scratch/forum.log" && break
    kill -0 "$forum_pid" 2>/dev/null || { forum_pid=; fail "the demo forum did not start (port 18080 in use?)"; }
    sleep 0.1
done
grep -q "listening" "$scratch/forum.log" || fail "the demo forum did not start in 10 s"

mkdir -p "$scratch/home" "$scratch/runtime"
chmod 700 "$scratch/runtime"
# Its own process group, so that the engine's helper processes end with it.
env -u http_proxy -u https_proxy -u all_proxy -u ALL_PROXY -u HTTP_PROXY -u HTTPS_PROXY \
    HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/home/.config" \
    XDG_CACHE_HOME="$scratch/home/.cache" XDG_DATA_HOME="$scratch/home/.local/share" \
    XDG_RUNTIME_DIR="$scratch/runtime" \
    QT_QPA_PLATFORM=offscreen QTWEBENGINE_DISABLE_SANDBOX=1 \
    setsid "$viewer" >"$scratch/viewer.log" 2>&1 </dev/null &
viewer_pid=$!

# The viewer downloads the newest-threads list itself, then its web view opens thread 987.
for _ in $(seq 1 1200); do
    grep -q '^GET /thread-987-1-1.html' "$scratch/forum.log" && break
    kill -0 "$viewer_pid" 2>/dev/null || { viewer_pid=; fail "the packaged viewer ended early"; }
    sleep 0.1
done
grep -q '^GET /thread-987-1-1.html' "$scratch/forum.log" ||
    fail "no request for thread 987 within 120 s"
grep -q '^GET /forum.php?mod=guide&view=new' "$scratch/forum.log" ||
    fail "the newest-threads list was never asked for"
echo "packaged viewer opened thread 987: ok"
stop "$viewer_pid" "-$viewer_pid"
viewer_pid=
echo "files the run left in its home folder:"
(cd "$scratch/home" && find . -type f | sort | head -n 50)
