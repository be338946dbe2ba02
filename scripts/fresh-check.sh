#!/usr/bin/env bash
# Runs .ci/run in a minimal Debian 12 made afresh with debootstrap, so that a package that the
# set-up forgets, but this machine happens to have, shows up as a failure. Needs root and the
# package registry; takes about five minutes and a few GiB under the scratch folder.
#
#   scripts/fresh-check.sh [parent-folder-for-the-scratch-root]
set -euo pipefail
cd "$(dirname "$0")/.."

[ "$(id -u)" -eq 0 ] || { echo "fresh-check: needs root (debootstrap, chroot, mount)" >&2; exit 1; }
command -v debootstrap >/dev/null || apt-get install -y -q debootstrap
command -v git >/dev/null || { echo "fresh-check: needs git to take a clean copy of HEAD" >&2; exit 1; }

scratch=$(mktemp -d "${1:-/var/tmp}/fresh-check.XXXXXX")
root=$scratch/root
clean_up() {
    umount -R -l "$root/dev" 2>/dev/null || true
    umount -R -l "$root/sys" 2>/dev/null || true
    umount "$root/proc" 2>/dev/null || true
    # Never remove files through a mount that is still there: /dev is the machine's own.
    if findmnt -rn -o TARGET | grep -q "^$root"; then
        echo "fresh-check: mounts remain under $root; left in place" >&2
    else
        rm -rf "$scratch"
    fi
}
trap clean_up EXIT

debootstrap --variant=minbase bookworm "$root" http://deb.debian.org/debian
cat > "$root/etc/apt/sources.list" <<'LIST'
deb http://deb.debian.org/debian bookworm main
deb http://deb.debian.org/debian bookworm-updates main
deb http://deb.debian.org/debian-security bookworm-security main
LIST
rm -f "$root"/var/lib/apt/lists/*Packages*
cp /etc/resolv.conf "$root/etc/resolv.conf"
mount -t proc proc "$root/proc"
mount --rbind /sys "$root/sys"
mount --rbind /dev "$root/dev"
# The web engine needs shared memory of its own inside the root.
mount -t tmpfs -o size=2g tmpfs "$root/dev/shm"

git clone -q . "$root/root/thread-viewer"
chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 CI=true \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    bash -c 'cd /root/thread-viewer && bash .ci/run' </dev/null
