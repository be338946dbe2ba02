#!/usr/bin/env bash
# Start-up time and memory of the viewer beside headless Chromium, in one run, on the same
# loopback demo forum.
#
#   bench/startup/compare.sh [build-dir] [runs]
#
# Start-up: from the launch to the first request for the newest thread's page reaching the
# forum. The viewer first downloads the newest-threads list and then opens the thread; Chromium
# is given the thread's address directly. Memory: the proportional set size (PSS) of the whole
# process tree, read 3 s after that request, while the thread shows. Needs Debian's chromium.
set -euo pipefail
cd "$(dirname "$0")/../.."

build=${1:-build/default}
runs=${2:-5}
viewer=$build/src/app/thread-viewer
demo=$build/tools/demo-forum/demo-forum
base=http://127.0.0.1:18080/
thread_page=thread-987-1-1.html

for f in "$viewer" "$demo"; do
    [ -x "$f" ] || { echo "missing $f: build the default preset first" >&2; exit 1; }
done
command -v chromium >/dev/null || { echo "needs chromium (apt-get install chromium)" >&2; exit 1; }

scratch=$(mktemp -d)
demo_pid=
cleanup() {
    [ -n "$demo_pid" ] && kill "$demo_pid" 2>/dev/null && wait "$demo_pid" 2>/dev/null
    rm -rf "$scratch"
}
trap cleanup EXIT

"$demo" --base-url "$base" > "$scratch/forum.log" 2>&1 &
demo_pid=$!
for _ in $(seq 100); do grep -q listening "$scratch/forum.log" && break; sleep 0.05; done

now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

# The pids of a process and all its descendants.
tree() {
    local pids=$1 frontier=$1 next
    while [ -n "$frontier" ]; do
        next=$(for p in $frontier; do pgrep -P "$p" || true; done)
        pids="$pids $next"
        frontier=$next
    done
    echo $pids
}

pss_mib() {
    local total=0 kb
    for p in $(tree "$1"); do
        kb=$(awk '/^Pss:/ {print $2}' "/proc/$p/smaps_rollup" 2>/dev/null || echo 0)
        total=$(( total + ${kb:-0} ))
    done
    awk -v kb="$total" 'BEGIN {printf "%.1f", kb / 1024}'
}

# measure NAME COMMAND...: prints "start_ms pss_mib" for one run.
measure() {
    local name=$1; shift
    local home="$scratch/home-$name"
    rm -rf "$home"; mkdir -p "$home"
    local seen
    seen=$(grep -c "GET /$thread_page" "$scratch/forum.log" || true)
    local t0; t0=$(now_ms)
    env HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_CACHE_HOME="$home/.cache" \
        XDG_DATA_HOME="$home/.local/share" "$@" > "$scratch/$name.out" 2>&1 &
    local pid=$!
    local t1=
    for _ in $(seq 3000); do
        if [ "$(grep -c "GET /$thread_page" "$scratch/forum.log" || true)" -gt "$seen" ]; then
            t1=$(now_ms); break
        fi
        sleep 0.01
    done
    sleep 3
    local mem; mem=$(pss_mib "$pid")
    kill -- "$pid" 2>/dev/null || true
    for p in $(tree "$pid"); do kill "$p" 2>/dev/null || true; done
    wait "$pid" 2>/dev/null || true
    [ -n "$t1" ] || { echo "$name: the thread was never requested" >&2; cat "$scratch/$name.out" >&2; exit 1; }
    echo "$(( t1 - t0 )) $mem"
}

median() { sort -n | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }

declare -A start mem
for i in $(seq "$runs"); do
    read -r s m < <(measure viewer env QT_QPA_PLATFORM=offscreen QTWEBENGINE_DISABLE_SANDBOX=1 "$viewer")
    start[viewer]+="$s "; mem[viewer]+="$m "
    read -r s m < <(measure chromium chromium --headless --no-sandbox --disable-gpu --disable-quic \
        --no-first-run --disable-background-networking --disable-component-update --disable-sync \
        --user-data-dir="$scratch/chromium-profile-$i" "$base$thread_page")
    start[chromium]+="$s "; mem[chromium]+="$m "
done

printf '%-10s %22s %22s\n' "" "start-up ms (median)" "PSS MiB (median)"
for name in viewer chromium; do
    s=$(echo "${start[$name]}" | tr ' ' '\n' | grep . | median)
    m=$(echo "${mem[$name]}" | tr ' ' '\n' | grep . | median)
    printf '%-10s %22s %22s   runs: %s| %s\n' "$name" "$s" "$m" "${start[$name]}" "${mem[$name]}"
done
vs=$(echo "${start[viewer]}" | tr ' ' '\n' | grep . | median)
cs=$(echo "${start[chromium]}" | tr ' ' '\n' | grep . | median)
vm=$(echo "${mem[viewer]}" | tr ' ' '\n' | grep . | median)
cm=$(echo "${mem[chromium]}" | tr ' ' '\n' | grep . | median)
awk -v vs="$vs" -v cs="$cs" -v vm="$vm" -v cm="$cm" \
    'BEGIN {printf "viewer / chromium: start-up %.2fx, memory %.2fx\n", vs / cs, vm / cm}'
