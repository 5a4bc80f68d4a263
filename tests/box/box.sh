#!/bin/bash
# The router in a box: boots a real kernel for the build's CPU (Debian's, as the table
# below names it) under qemu-system with an initramfs of busybox, the build's clientmac
# and two helpers, one that adds neighbours and one that denies netlink to the fixture
# cases; the guest runs the kernel-table and fixture cases on its own
# tables and serves clientmac through busybox httpd, which the host asks through qemu's
# user network. Everything ends within 120 s. A dynamic build finds its loader and C
# library where the firmware has them, taken from the root it runs in under qemu-user.
# Usage: box.sh PROCESSOR TREEDIR NEIGHBOURHELPER NONETLINK, the build tree's initramfs kept
#   in TREEDIR
#   (CLIENTMAC: the build's clientmac; LIBC: its C library; CLIENTMAC_EMULATOR: qemu-user
#   with -L and the root, for a dynamic build; CLIENTMAC_BOX_CACHE: where the machine
#   keeps the kernels, by default /var/cache/clientmac/box, else ~/.cache/clientmac/box)

export CLIENTMAC_READS_ONLY=1 # the binary runs in the box, not under qemu-user
. "$(dirname "$0")/../lib/host.sh"
. "$testdir/lib/firmware.sh"
processor=$1
tree=$2
helper=$3
nonetlink=$4
deadline=$((SECONDS + 120))

# Each CPU's box: Debian's architecture, kernel package, emulator and machine, console tty,
# network card, and the modules loaded in this order (each after those it depends on:
# the packages hold no modules.dep).
case $processor in
  mipsel)
    arch=mipsel kernel=linux-image-4kc-malta qemu=(qemu-system-mipsel -M malta -vga none)
    tty=ttyS0 nic=pcnet,addr=0b,romfile= modules="veth mii pcnet32" ;;
  arm)
    arch=armhf kernel=linux-image-armmp qemu=(qemu-system-arm -M virt -cpu cortex-a15)
    tty=ttyAMA0 nic=virtio-net-device modules="veth virtio_mmio failover net_failover virtio_net" ;;
  aarch64)
    arch=arm64 kernel=linux-image-arm64 qemu=(qemu-system-aarch64 -M virt -cpu cortex-a53)
    tty=ttyAMA0 nic=virtio-net-device modules="veth virtio_mmio failover net_failover virtio_net" ;;
  *) skip "no box boots $processor" ;;
esac
command -v "${qemu[0]}" >/dev/null || skip "${qemu[0]} is not installed"
command -v cpio >/dev/null || skip "cpio is not installed"

# The kernel, its modules and static busybox, from Debian's packages, kept once for the
# machine.
. "$testdir/lib/guests.sh"
boxstore "$processor" "$arch" "$kernel" "$modules"
echo "kernel: $(cat "$store/kernel") from $store"

# The initramfs, made again only when one of its parts has changed.
mkdir -p "$tree" || die "cannot make $tree"
initrd=$tree/initrd.gz
cases=(lib/cases.sh lib/box.sh lib/longtables.sh fixtures.sh fixturecase.sh kernel-arp.sh kernel-ndp.sh)
parts=("$CLIENTMAC" "$helper" "$nonetlink" "$store" "$testdir/box" "$testdir/fixtures" "${cases[@]/#/$testdir/}")
if [ ! -e "$initrd" ] || [ -n "$(find "${parts[@]}" -newer "$initrd" 2>/dev/null)" ]; then
  root=$scratch/root
  mkdir -p "$root"/{bin,proc,sys,dev,tmp,lib/modules,cases/lib,www/cgi-bin}
  cp "$store/busybox" "$CLIENTMAC" "$root/bin/"
  cp "$helper" "$root/bin/neighbour-add" && cp "$nonetlink" "$root/bin/nonetlink" ||
    die "cannot place the helpers in the box"
  # A dynamic build's loader and libraries go where the firmware has them, whatever the
  # build itself asks for.
  if [ "${emulator[1]:-}" = -L ] && firmware "$LIBC" "$processor"; then
    for file in "$loader" ${library:+"/lib/$library"}; do
      cp -L "${emulator[2]}$file" "$root$file" || die "cannot place $file in the box"
    done
  fi
  for module in $modules; do
    cp "$store/$module.ko" "$root/lib/modules/"
  done
  echo "$modules" >"$root/lib/modules/load"
  cp "$testdir/box/init" "$root/init"
  # The host's own tests, every case, on the guest's own kernel and C library.
  for file in "${cases[@]}"; do
    cp "$testdir/$file" "$root/cases/$file" || die "cannot place $file in the box"
  done
  cp -r "$testdir/fixtures" "$root/cases/fixtures"
  cgiscript "$root/www/cgi-bin/clientmac.cgi" 'exec /bin/clientmac'
  ln -s /bin/clientmac "$root/www/cgi-bin/link.cgi"
  cgiscript "$root/www/cgi-bin/arp.cgi" 'printf "%s\n" "$REMOTE_ADDR"; cat /proc/net/arp'
  cgiscript "$root/www/cgi-bin/done.cgi" 'printf bye; touch /tmp/done'
  chmod 755 "$root/init" "$root"/bin/*
  (cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$initrd.new" &&
    mv "$initrd.new" "$initrd" || die "cannot build the initramfs"
fi

log=$scratch/console
qemupid=""
atexit '[ -n "$qemupid" ] && kill "$qemupid" 2>/dev/null && wait "$qemupid" 2>/dev/null'

# qemu's user network: the documentation prefix, no way out, one port forwarded from the
# host's loopback only.
port=$((20000 + RANDOM % 20000))
started=$(date +%s.%N)
timeout $((deadline - SECONDS)) "${qemu[@]}" -m 256 -nographic -no-reboot \
  -kernel "$store/vmlinuz" -initrd "$initrd" -append "console=$tty panic=-1 loglevel=4" \
  -netdev "user,id=lan,net=203.0.113.0/24,host=203.0.113.2,restrict=on,hostfwd=tcp:127.0.0.1:$port-203.0.113.15:80" \
  -device "$nic,netdev=lan" >"$log" 2>&1 </dev/null &
qemupid=$!

await "box: up"
echo "boot: $(elapsed) s to /init"
await "box: httpd ready"

# The web requests, through the wrapper and through a link by a CGI name: the body must be
# what the guest's own ARP table lists for the peer.
ask() {
  curl -sS --max-time 10 "${@:2}" "http://127.0.0.1:$port/cgi-bin/$1"
}
body=$(ask clientmac.cgi)
linkbody=$(ask link.cgi -D "$scratch/linkheader")
linkcache=$(tr -d '\r' <"$scratch/linkheader" | sed -n 's/^Cache-Control: *//Ip')
table=$(ask arp.cgi)
ask done.cgi >/dev/null
peer=$(echo "$table" | head -n 1)
# busybox httpd reports an IPv4 peer as [::ffff:a.b.c.d]; the table lists a.b.c.d.
peer4=${peer#[}
peer4=${peer4%]}
peer4=${peer4#::ffff:}
listed=$(echo "$table" | awk -v peer="$peer4" '$1 == peer { print $4 }')
await "box: end"
wait "$qemupid"
qemupid=""

grep -E '^(ok|FAIL|SKIPPED) |^SKIPPED: |^box: |^\[' "$log" | tr -d '\r'
passed=$(grep -c '^ok ' "$log")
failed=$(grep -c '^FAIL ' "$log")
echo "web: REMOTE_ADDR $peer, listed as '$listed'"
judge "web request through busybox httpd" body "$body" "${listed:-nothing listed}"
judge "the link by a CGI name through busybox httpd" body "$linkbody" "${listed:-nothing listed}" \
  Cache-Control "$linkcache" no-store
grep -q "box: cases done" "$log" || judge "guest ran every case" done no yes
finish
