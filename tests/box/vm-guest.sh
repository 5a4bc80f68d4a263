#!/bin/bash
# The host's box's runner in the guest, by the host's own bash on the host's root: says
# which of the modules the guest was to load it has, makes one link of each kind they
# bring, then runs each test it is given as the host runs it, with the host's build in
# CLIENTMAC; each is judged by its own cases and by how it ends (a test that skips here,
# where it was booted to run, fails). Its output goes to the host, which counts it.
# Usage: vm-guest.sh TEST... (VM_MODULES: the modules the guest was to load)

testdir=$(cd "$(dirname "$0")/.." && pwd)
. "$testdir/lib/cases.sh"
echo "vm: kernel $(uname -r) on $(nproc) CPUs, running $CLIENTMAC"

# Which of the modules the kernel has loaded.
loaded=""
for module in $VM_MODULES; do
  grep -q "^$module " /proc/modules && loaded="$loaded $module"
done
echo "vm: modules:$loaded"

# kinds: makes one link of each kind in a network namespace of its own, which goes with
# it, and prints the kinds that it made.
kinds() {
  ip link add vm-dummy type dummy && echo dummy
  ip link add vrf-b type vrf table 10 && echo vrf
  ip link add link vm-dummy name vm-dummy.20 type vlan id 20 && echo vlan
  ip link add link vm-dummy name vm-ipvlan type ipvlan mode l2 && echo ipvlan
  ip link add wg0 type wireguard && echo wireguard
}
made=$(export -f kinds && unshare --net bash -c kinds | tr '\n' ' ')
echo "vm: links: $made"
for kind in dummy vrf vlan ipvlan wireguard; do
  case " $made" in *" $kind "*) got=made ;; *) got=refused ;; esac
  judge "the guest makes a $kind link" link "$got" made
done

for test in "$@"; do
  echo "vm: test $test"
  bash "$testdir/$test.sh"
  judge "$test ends in the guest" status $? 0
done
echo "vm: tests done $(cut -d' ' -f1 /proc/uptime) s"
