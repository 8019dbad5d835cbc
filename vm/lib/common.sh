# Sourced by run-vm-test.sh and run-vm-wine-test.sh, which share vm/work (downloads, builds): where
# things are, the bounded run one at a time, the Debian kernel package (downloaded, never
# installed) and the initramfs. The caller sets VM_LOG_NAME, the prefix of its log lines; kpkg,
# kdeb, kdir, vmlinuz and kconfig are set here for it.
# shellcheck shell=bash disable=SC2034

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"  # vm/
root="$(cd "$here/.." && pwd)"
work="$here/work"

log() { echo "$VM_LOG_NAME: $*" >&2; }

# vm_bounded_run SECONDS COMMAND...: outside the bounded run, runs COMMAND (the script itself, once
# more) under timeout(1) while holding vm/work's lock, and exits with its status. Inside, returns.
vm_bounded_run() {
  [ -z "${ZRV_VM_INNER:-}" ] || return 0
  local limit=$1 started rc
  shift
  export ZRV_VM_INNER=1
  # The wait for another run does not count against the timeout.
  mkdir -p "$work"
  exec 9>"$work/.lock"
  if ! flock -n 9; then
    log "waiting for another run to finish"
    flock 9
  fi
  started=$(date +%s)
  set +e
  timeout -k 10 "$limit" "$@"
  rc=$?
  set -e
  [ $rc -eq 124 ] && log "FAIL: the whole run took longer than $limit s"
  log "wall time $(($(date +%s) - started)) s"
  exit $rc
}

# vm_fetch PACKAGE: downloads its .deb into $work/debs unless one is there.
vm_fetch() {
  local p="$1"
  if ls "$work/debs/${p}_"*.deb >/dev/null 2>&1; then return 0; fi
  log "downloading $p"
  (cd "$work/debs" && apt-get download -q "$p" >/dev/null 2>&1) && return 0
  apt-get update -qq || true
  (cd "$work/debs" && apt-get download -q "$p" >/dev/null)
}

# vm_kernel_deb: the kernel package linux-image-amd64 depends on, fetched into the cache, or the
# newest one there when the download fails. Sets kpkg and kdeb.
vm_kernel_deb() {
  mkdir -p "$work/debs"
  kpkg="$(vm_kernel_package || true)"
  if [ -z "$kpkg" ]; then
    apt-get update -qq || true
    kpkg="$(vm_kernel_package || true)"
  fi
  if [ -n "$kpkg" ]; then
    vm_fetch "$kpkg" || log "download of $kpkg failed; trying the cache"
  fi
  kdeb="$(ls -t "$work/debs/${kpkg:-linux-image-}"*_amd64.deb 2>/dev/null | grep -v -- '-dbg' | head -n 1 || true)"
  [ -n "$kdeb" ] || { log "no kernel package (linux-image-amd64 depends on '${kpkg}')"; exit 1; }
}
vm_kernel_package() { apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-[0-9]/ {print $2; exit}'; }

# vm_unpack_kernel FOLDER PATTERN...: the image, its config and the files matching the patterns
# (modules) of $kdeb, unpacked into $work/FOLDER/<package>; again only when the patterns change.
# Sets kdir, vmlinuz and kconfig.
vm_unpack_kernel() {
  kdir="$work/$1/$(basename "$kdeb" .deb)"
  shift
  if [ "$(cat "$kdir/.done" 2>/dev/null)" != "$*" ]; then
    log "unpacking $(basename "$kdeb")"
    rm -rf "$kdir" && mkdir -p "$kdir"
    dpkg-deb --fsys-tarfile "$kdeb" | tar -x -C "$kdir" --wildcards './boot/vmlinuz-*' './boot/config-*' "$@"
    echo "$*" >"$kdir/.done"
  fi
  vmlinuz="$(ls "$kdir"/boot/vmlinuz-* | head -n 1)"
  kconfig="$(ls "$kdir"/boot/config-* | head -n 1)"
}

# vm_copy_modules ROOTFS MODULE...: the named modules from $kdir into ROOTFS/modules, uncompressed.
vm_copy_modules() {
  local dest="$1/modules" m src
  shift
  for m in "$@"; do
    src="$(find "$kdir" -name "$m.ko*" | head -n 1)"
    case "$src" in
      *.ko) cp "$src" "$dest/$m.ko" ;;
      *.ko.xz) xz -dc "$src" >"$dest/$m.ko" ;;
      *.ko.zst) zstd -dqc "$src" >"$dest/$m.ko" ;;
      *) log "module $m not found in $(basename "$kdeb")"; exit 1 ;;
    esac
  done
}

# vm_pack_initramfs ROOTFS FILE
vm_pack_initramfs() { (cd "$1" && find . | cpio -o -H newc --quiet | gzip -1 >"$2"); }
