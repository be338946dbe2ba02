#!/usr/bin/env bash
# `cmake --install` into a scratch DESTDIR: the program, its desktop entry, metainfo and icons
# land in the standard places and pass the freedesktop validators.
set -euo pipefail
build=$1
app_id=org.example.ThreadViewer

scratch=$(mktemp -d "${TMPDIR:-/tmp}/viewer-install.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

DESTDIR="$scratch" cmake --install "$build" --prefix /usr >"$scratch/install.log" ||
    { cat "$scratch/install.log"; exit 1; }
root=$scratch/usr

fail() { echo "FAIL: $*" >&2; exit 1; }

[ -x "$root/bin/thread-viewer" ] || fail "no executable in bin"
desktop=$root/share/applications/$app_id.desktop
metainfo=$root/share/metainfo/$app_id.metainfo.xml
desktop-file-validate "$desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate"

# The entry starts the installed binary and shows the program's own icon.
exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
[ -x "$root/bin/$exec_name" ] || fail "Exec=$exec_name is not the installed binary"
grep -qx "Icon=$app_id" "$desktop" || fail "Icon is not $app_id"
grep -qx "StartupNotify=true" "$desktop" || fail "no StartupNotify=true"

icons=$root/share/icons/hicolor
[ -s "$icons/scalable/apps/$app_id.svg" ] || fail "no scalable icon"
for size in 16 22 24 32 48 64 128 256; do
    png=$icons/${size}x${size}/apps/$app_id.png
    file "$png" | grep -q "PNG image data, $size x $size," || fail "$png is not a ${size}px PNG"
done
echo "installed files: ok"
