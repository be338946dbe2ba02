#!/usr/bin/env bash
# Builds the fuzz preset and runs the text fuzzer for the given number of seconds (default 60).
# Usage: scripts/fuzz.sh [seconds] [extra libFuzzer options...]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
shift || true

cmake --preset fuzz
cmake --build --preset fuzz --target text_fuzz -j2

corpus=build/fuzz/corpus/text_fuzz
mkdir -p "$corpus"
exec build/fuzz/fuzz/text_fuzz "$corpus" fuzz/corpus/text_fuzz -dict=fuzz/text.dict \
    -max_total_time="$seconds" -print_final_stats=1 "$@"
