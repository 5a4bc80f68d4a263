# The tests' runner in the router in a box: the guest's init sources it, then each test
# table it runs (fixtures.sh, kernel-arp.sh, kernel-ndp.sh), which cases.sh runs and
# judges on the guest's own kernel, C library and busybox: the kernel tests' namespace is
# the guest itself. busybox sh, like the tables' own parts.
box=1
testdir=/cases
scratch=/tmp/scratch
CLIENTMAC=/bin/clientmac
# No sanitizer runs in the box to keep /proc's PID directories for.
procdir=-
# Netlink denied by the box's own helper, for the fixture cases.
nonetlink=/bin/nonetlink
made=""
mkdir -p "$scratch"
. "$testdir/lib/cases.sh"
