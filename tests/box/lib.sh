# The router in a box's runner of the host's case tables: the guest's /lib.sh, where the
# tests it sources from /cases (fixtures.sh, kernel-arp.sh, kernel-ndp.sh) look for
# lib.sh. It judges with the host's own common.sh, and runs each case on the guest's
# own kernel, C library and busybox: the kernel tests' namespace is the guest itself,
# its links made afresh for each test. busybox sh, like the tests' table parts.
. /cases/common.sh
box=1
testdir=/cases
scratch=/tmp/scratch
mkdir -p "$scratch"
made=${made:-}

# A sourced test may not end the guest's init: what would end it is a failed case, and
# the host counts the guest's cases from its console.
skip() { echo "FAIL box: cannot run: $*"; }
die() { echo "FAIL box: $*"; }
finish() { :; }
emulated() { false; }
require_netns() { :; }
require_kernel() { :; }

# The kernel tests' steps, as lib.sh names them, on the guest's kernel: busybox ip knows
# no nodad (the guest does no duplicate address detection at all), no -batch and no
# veth peer name; the neighbour helper adds entries in every state.
make_netns() {
  ns=$1
  for link in $made; do
    ip link del "$link"
  done
  made=""
  veth lan0 lan1 && veth wan0 wan1 || die "cannot set up the links"
}
net() {
  n_args=""
  for n_word; do
    [ "$n_word" = nodad ] || n_args="$n_args $n_word"
  done
  # shellcheck disable=SC2086 # the words hold no blanks
  ip $n_args
}
inns() { "$@"; }
veth() {
  ip link add "$1" type veth && for peer in /sys/class/net/veth*; do
    ip link set "${peer##*/}" name "$2"
  done && ip link set "$1" up && ip link set "$2" up && made="$made $1"
}
entry() { /bin/neighbour-add "$1" "${4:--}" "$2" "$3"; }
entries() { neighbours; }
cannot() { [ -z "${FAULT:-}" ] || why="the box has no strace to fail a system call with"; }

# lookup CLIENT [ARGS...]: in a kernel test (ns), the program in the guest (through a
# link named CALLED when that is set), with
# TABLE=none or fifo as on the host; else a fixture case, each through the host's own
# fixturecase.sh, with netlink denied by the box's nonetlink.
lookup() {
  l_client=$1 l_program=clientmac
  shift
  if [ -n "${CALLED:-}" ]; then
    l_program=/tmp/called/$CALLED
    mkdir -p /tmp/called && ln -sf /bin/clientmac "$l_program"
  fi
  if [ "$l_client" = - ]; then
    set -- env -u REMOTE_ADDR -u SERVER_ADDR ${SERVER:+SERVER_ADDR="$SERVER"} "$l_program" "$@"
  else
    set -- env -u SERVER_ADDR REMOTE_ADDR="$l_client" ${SERVER:+SERVER_ADDR="$SERVER"} "$l_program" "$@"
  fi
  fixtureunshare="unshare -mn"
  [ -n "${ns:-}" ] && fixtureunshare="timeout 10 unshare -m"
  if [ -z "${ns:-}" ]; then
    fixture - /bin/nonetlink "$@"
  elif [ -n "${TABLE:-}" ]; then
    fixture - "$@"
  else
    out=$(timeout 10 "$@" 2>/tmp/err)
    status=$?
    err=$(cat /tmp/err)
  fi
}
