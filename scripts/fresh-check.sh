#!/usr/bin/env bash
# Checks that the README's two commands work on a machine that has nothing
# but a minimal Debian 12: builds such a root with debootstrap once, then for
# each command takes a fresh copy of it, puts the repository and ../shared
# in, and runs the command inside it with chroot, as root. Prints how long
# each took. Takes a while (the test command builds and runs everything), so
# it is not part of CI.
#
#   bash scripts/fresh-check.sh [demo|test]...     (default: both)
#
# Needs root. FRESH_DIR picks the scratch folder (default
# /var/tmp/halvrecht-fresh); FRESH_MIRROR the Debian mirror.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
shared=$(cd "$root/../shared" && pwd)
scratch=${FRESH_DIR:-/var/tmp/halvrecht-fresh}
mirror=${FRESH_MIRROR:-http://deb.debian.org/debian}
commands=("$@")
[ ${#commands[@]} -gt 0 ] || commands=(demo test)

[ "$(id -u)" -eq 0 ] || { echo "fresh-check: run as root (debootstrap and chroot need it)" >&2; exit 1; }
command -v debootstrap >/dev/null || { echo "fresh-check: debootstrap is missing; run scripts/setup.sh" >&2; exit 1; }

mounted=()
# Ends what a command left running inside a machine (nginx, wineserver),
# then lets go of its mounts.
unmount_all() {
  local i p
  for p in /proc/[0-9]*; do
    case "$(readlink "$p/root" 2>/dev/null)" in "$scratch"/machine-*) kill -9 "${p#/proc/}" 2>/dev/null || true ;; esac
  done
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount -l "${mounted[$i]}" 2>/dev/null || true; done
  mounted=()
}
trap unmount_all EXIT

base=$scratch/base
if [ ! -x "$base/usr/bin/apt-get" ] || [ ! -f "$base/.complete" ]; then
  rm -rf "$base"
  mkdir -p "$scratch"
  start=$SECONDS
  echo "fresh-check: making a minimal Debian 12 root in $base"
  debootstrap --variant=minbase bookworm "$base" "$mirror" >"$scratch/debootstrap.log" 2>&1 ||
    { tail -n 20 "$scratch/debootstrap.log" >&2; exit 1; }
  # The same suites a Debian 12 machine is installed with.
  cat >"$base/etc/apt/sources.list" <<EOF
deb $mirror bookworm main
deb $mirror bookworm-updates main
deb ${mirror%/debian}/debian-security bookworm-security main
EOF
  touch "$base/.complete"
  echo "fresh-check: root made in $((SECONDS - start)) s"
fi

status=0
for what in "${commands[@]}"; do
  case "$what" in
    demo) script=demo.sh ;;
    test) script=test.sh ;;
    *) echo "fresh-check: unknown command '$what' (demo or test)" >&2; exit 2 ;;
  esac
  machine=$scratch/machine-$what
  rm -rf "$machine"
  cp -a "$base" "$machine"
  mkdir -p "$machine/work"
  # A clean copy of what is committed, as CI clones it.
  git -C "$root" archive --format=tar --prefix=main/ HEAD | tar -x -C "$machine/work"
  cp -a "$shared" "$machine/work/shared"
  cp /etc/resolv.conf "$machine/etc/resolv.conf"
  for m in proc sys dev dev/pts; do
    mkdir -p "$machine/$m"
    case $m in
      proc) mount -t proc proc "$machine/proc" ;;
      sys) mount -t sysfs sys "$machine/sys" ;;
      dev) mount --bind /dev "$machine/dev" ;;
      dev/pts) mount -t devpts devpts "$machine/dev/pts" ;;
    esac
    mounted+=("$machine/$m")
  done
  echo
  echo "==== fresh machine: bash scripts/setup.sh && bash scripts/$script ===="
  start=$SECONDS
  if chroot "$machine" /usr/bin/env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    LANG=C.UTF-8 /bin/bash -c "cd /work/main && bash scripts/setup.sh && bash scripts/$script" \
    </dev/null >"$scratch/$what.log" 2>&1; then
    result=passed
  else
    result="FAILED (exit $?)"
    status=1
  fi
  took=$((SECONDS - start))
  tail -n 15 "$scratch/$what.log"
  echo "fresh-check: $what $result in $((took / 60)) min $((took % 60)) s (log: $scratch/$what.log)"
  unmount_all
done
exit $status
