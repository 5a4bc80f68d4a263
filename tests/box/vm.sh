#!/bin/bash
# The host's box: boots Debian's x86-64 kernel under qemu-system-x86_64 (TCG: no KVM is
# assumed) with this machine's own root file system, read-only over 9p, as the guest's,
# and runs there, as root, the host's kernel-table tests with the host's build: the
# kernel this machine runs may lack modules a gateway has (vrf, 8021q, ipvlan,
# wireguard), and Debian's has them all. The guest's tests see CLIENTMAC_VM=1 and write
# to a virtio-serial port, whose file the host judges; everything ends within 840 s, for
# the guest runs slowly beside the builds that run-all starts at once.
# Usage: vm.sh [TEST...] (tests/TEST.sh, by default kernel-arp kernel-ndp)
#   (CLIENTMAC: the host's build; CLIENTMAC_BOX_CACHE: where the machine keeps the
#   kernels, as box.sh)

export CLIENTMAC_READS_ONLY=1 # the binary runs in the guest
. "$(dirname "$0")/../lib/host.sh"
. "$testdir/lib/guests.sh"
deadline=$((SECONDS + 840))
tests=("$@")
[ ${#tests[@]} -gt 0 ] || tests=(kernel-arp kernel-ndp)
for test in "${tests[@]}"; do
  [ -f "$testdir/$test.sh" ] || die "no test $testdir/$test.sh"
done

[ "$(id -u)" -eq 0 ] ||
  skip "the guest's tests run as root on this machine's root file system, which qemu serves only with its own user's rights"
command -v qemu-system-x86_64 >/dev/null || skip "qemu-system-x86_64 is not installed"
command -v cpio >/dev/null || skip "cpio is not installed"
[ "$(uname -m)" = x86_64 ] || skip "the guest runs this machine's programs, which are not x86-64"

# What the guest loads: the PCI bus's virtio, 9p for its root, the serial port for the
# tests' output, and the links the tests make, among them those this kernel may lack.
needed="virtio_pci 9pnet_virtio 9p virtio_console veth"
wanted="vrf 8021q ipvlan wireguard dummy inet_diag tcp_diag udp_diag"
boxstore x86_64 amd64 linux-image-amd64 "$needed" "$wanted"
echo "kernel: $(cat "$store/kernel") from $store"
present=$needed
for module in $wanted; do
  [ -n "$(modulefile "$store" "$module")" ] && present="$present $module"
done
# shellcheck disable=SC2086 # one word a module
load=$(moduleorder "$store" $present) || die "the store $store lacks a module"

# The initramfs: busybox, the modules, the init and what it is to run. Made afresh, in
# under a second.
root=$scratch/root
mkdir -p "$root"/{bin,proc,sys,dev,newroot,lib/modules} || die "cannot make the initramfs"
cp "$store/busybox" "$root/bin/" && cp "$testdir/box/vm-init" "$root/init" &&
  chmod 755 "$root/init" "$root/bin/busybox" || die "cannot place busybox and init"
for module in $load; do
  cp "$store/$module.ko" "$root/lib/modules/" || die "cannot place $module.ko"
done
echo "$load" >"$root/lib/modules/load"
# What the guest runs, by paths that are the same there: the root is this machine's. The
# tree and the build are served on their own too, for where the guest's tmpfs hides them
# (a clone under /tmp).
tree=$(cd "$testdir/.." && pwd)
build=$(dirname "$(realpath "$CLIENTMAC")")
{
  printf 'runner=%q\n' "$testdir/box/vm-guest.sh"
  printf 'clientmac=%q\n' "$(realpath "$CLIENTMAC")"
  printf 'tests=%q\n' "${tests[*]}"
  printf 'wanted=%q\n' "$wanted"
  printf 'treepath=%q\n' "$tree"
  printf 'buildpath=%q\n' "$build"
} >"$root/vm.conf"
initrd=$scratch/initrd.gz
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$initrd" ||
  die "cannot build the initramfs"

# No network card: the guest's tests make their own links. The root is served read-only;
# the tests' output comes back by a virtio-serial port into a file of the host's.
console=$scratch/console
log=$scratch/log
: >"$log"
qemupid=""
atexit '[ -n "$qemupid" ] && kill "$qemupid" 2>/dev/null && wait "$qemupid" 2>/dev/null'
# timeout takes 0 as no limit at all.
[ $SECONDS -lt $deadline ] || die "no time left to boot the guest"
started=$(date +%s.%N)
timeout $((deadline - SECONDS)) qemu-system-x86_64 -machine q35 -cpu max -smp 2 -m 1024 \
  -nographic -no-reboot -nic none \
  -kernel "$store/vmlinuz" -initrd "$initrd" -append "console=ttyS0 panic=-1 loglevel=4" \
  -fsdev local,id=root,path=/,security_model=none,readonly=on,multidevs=remap \
  -device virtio-9p-pci,fsdev=root,mount_tag=root \
  -fsdev "local,id=tree,path=$tree,security_model=none,readonly=on,multidevs=remap" \
  -device virtio-9p-pci,fsdev=tree,mount_tag=tree \
  -fsdev "local,id=build,path=$build,security_model=none,readonly=on,multidevs=remap" \
  -device virtio-9p-pci,fsdev=build,mount_tag=build \
  -device virtio-serial-pci -chardev "file,id=out,path=$log" \
  -device virtserialport,chardev=out,name=clientmac >"$console" 2>&1 </dev/null &
qemupid=$!

await "vm: up"
echo "boot: $(elapsed) s to the guest's init"
await "vm: root"
echo "root: $(elapsed) s to the 9p root"
await "vm: end"
wait "$qemupid"
qemupid=""
echo "run: $(elapsed) s, qemu ended"

tr -d '\r' <"$log"
passed=$(grep -c '^ok ' "$log")
failed=$(grep -c '^FAIL ' "$log")
grep -q "^vm: tests done" "$log" || judge "the guest ran every test" done no yes
finish
