#!/bin/bash
# The router in a box: boots a real 32-bit little-endian MIPS kernel (Debian's Malta
# image) under qemu-system-mipsel with an initramfs of busybox, the MIPS clientmac and a
# neighbour helper; the guest runs the kernel-table and fixture cases on its own tables
# and serves clientmac through busybox httpd, which the host asks through qemu's user
# network. Everything ends within 120 s. A dynamic build finds its loader and C library
# where the firmware has them, taken from the root it runs in under qemu-user.
# Usage: box.sh CACHEDIR NEIGHBOURHELPER
#   (CLIENTMAC: the mipsel clientmac; LIBC: its C library; CLIENTMAC_EMULATOR: qemu-user
#   with -L and the root, for a dynamic build)

export CLIENTMAC_READS_ONLY=1 # the binary runs in the box, not under qemu-user
. "$(dirname "$0")/../lib.sh"
. "$testdir/firmware.sh"
cache=$1
helper=$2
deadline=$((SECONDS + 120))

command -v qemu-system-mipsel >/dev/null || skip "qemu-system-mipsel is not installed"
command -v cpio >/dev/null || skip "cpio is not installed"

# The Malta kernel and static busybox, from Debian's mipsel packages, kept in the cache.
mkdir -p "$cache/debs"
if [ -z "$(ls "$cache"/debs/linux-image-*.deb 2>/dev/null)" ] ||
  [ -z "$(ls "$cache"/debs/busybox-static_*.deb 2>/dev/null)" ]; then
  kernelpackage=$(apt-cache depends linux-image-4kc-malta:mipsel 2>/dev/null |
    awk '/Depends: linux-image-[0-9]/ { print $2; exit }')
  [ -n "$kernelpackage" ] ||
    skip "Debian's mipsel packages are not known here (dpkg --add-architecture mipsel; apt-get update)"
  (cd "$cache/debs" && apt-get download "$kernelpackage" busybox-static:mipsel >/dev/null 2>&1) ||
    skip "cannot download $kernelpackage and busybox-static:mipsel"
fi
if [ ! -d "$cache/kernel" ]; then
  dpkg-deb -x "$cache"/debs/linux-image-*.deb "$cache/kernel" &&
    dpkg-deb -x "$cache"/debs/busybox-static_*.deb "$cache/busybox" ||
    die "cannot unpack the packages"
fi
vmlinuz=$(ls "$cache"/kernel/boot/vmlinuz-*)
modules=$(ls -d "$cache"/kernel/lib/modules/*)

# The initramfs, made again only when one of its parts has changed.
initrd=$cache/initrd.gz
cases=(common.sh fixtures.sh fixturecase.sh longtables.sh kernel-arp.sh kernel-ndp.sh)
parts=("$CLIENTMAC" "$helper" "$testdir/box" "$testdir/fixtures" "${cases[@]/#/$testdir/}")
if [ ! -e "$initrd" ] || [ -n "$(find "${parts[@]}" -newer "$initrd" 2>/dev/null)" ]; then
  root=$cache/root
  rm -rf "$root"
  mkdir -p "$root"/{bin,proc,sys,dev,tmp,lib/modules,cases,www/cgi-bin}
  cp "$cache/busybox/bin/busybox" "$CLIENTMAC" "$root/bin/"
  cp "$helper" "$root/bin/neighbour-add"
  # A dynamic build's loader and libraries go where the firmware has them, whatever the
  # build itself asks for.
  if [ "${emulator[1]:-}" = -L ] && firmware "$LIBC" mipsel; then
    for file in "$loader" ${library:+"/lib/$library"}; do
      cp -L "${emulator[2]}$file" "$root$file" || die "cannot place $file in the box"
    done
  fi
  for module in net/veth.ko net/mii.ko net/ethernet/amd/pcnet32.ko; do
    [ -e "$modules/kernel/drivers/$module" ] && cp "$modules/kernel/drivers/$module" "$root/lib/modules/"
  done
  cp "$testdir/box/init" "$root/init"
  cp "$testdir/box/lib.sh" "$root/lib.sh"
  # The host's own tests, every case, on the guest's own kernel and C library.
  cp "${cases[@]/#/$testdir/}" "$root/cases/"
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
timeout $((deadline - SECONDS)) qemu-system-mipsel -M malta -m 256 -nographic -no-reboot \
  -kernel "$vmlinuz" -initrd "$initrd" -append "console=ttyS0 panic=-1 loglevel=4" \
  -netdev "user,id=lan,net=203.0.113.0/24,host=203.0.113.2,restrict=on,hostfwd=tcp:127.0.0.1:$port-203.0.113.15:80" \
  -device pcnet,netdev=lan,addr=0b,romfile= -vga none >"$log" 2>&1 </dev/null &
qemupid=$!

# Waits until the guest's console says TEXT, or fails the whole run at the deadline.
await() {
  until grep -q "$1" "$log"; do
    kill -0 "$qemupid" 2>/dev/null || { cat "$log"; die "qemu ended before the guest said '$1'"; }
    [ $SECONDS -lt $deadline ] || { cat "$log"; die "the guest did not say '$1' in time"; }
    sleep 0.2
  done
}
await "box: up"
echo "boot: $(awk -v s="$started" -v e="$(date +%s.%N)" 'BEGIN { printf "%.1f", e - s }') s to /init"
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
