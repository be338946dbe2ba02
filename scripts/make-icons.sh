#!/usr/bin/env bash
# Renders the PNG sizes of the icon from data/icons/*.svg. Run it after changing the SVG and
# commit the PNGs; the build only installs them, so rsvg-convert is no build dependency.
set -euo pipefail
cd "$(dirname "$0")/../data/icons"

if ! command -v rsvg-convert >/dev/null; then
    sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    "${sudo[@]}" apt-get install -y -q librsvg2-bin
fi

for svg in *.svg; do
    name=${svg%.svg}
    for size in 16 22 24 32 48 64 128 256; do
        mkdir -p "$size"
        rsvg-convert --width "$size" --height "$size" "$svg" --output "$size/$name.png"
    done
done
ls -l */*.png
