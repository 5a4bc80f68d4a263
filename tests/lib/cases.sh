# The test harness's one face, in POSIX sh, as busybox runs it: how a case runs the
# program, how it is judged and counted, how a test ends, and the kernel tests' steps.
# Sourced by a runner, which sets what differs where the cases run: host.sh on this
# machine (in bash: namespaces of the test's own, clean-ups, live connections), box.sh in
# the router in a box, whose guest is itself the tests' one network namespace (box set).
# Each runner sets testdir (the tests), scratch (a directory of the test's own), CLIENTMAC
# (the program) and procdir (the /proc whose PID directories a fixture case keeps, or -);
# CLIENTMAC_EMULATOR, when set, is the command that runs the program (qemu-user,
# valgrind).

passed=0
failed=0
zero=00:00:00:00:00:00
# What the program writes before its reply when called by a CGI name.
cgi=$(printf 'Content-Type: text/plain\r\nCache-Control: no-store\r\n\r\n.')
cgi=${cgi%.}

# judge NAME [LABEL GOT WANT]...: records one case, passed when every GOT is its WANT.
judge() {
  j_name=$1 j_why=""
  shift
  while [ $# -ge 3 ]; do
    [ "$2" = "$3" ] || j_why="$j_why $1: got '$2', want '$3';"
    shift 3
  done
  if [ -z "$j_why" ]; then
    passed=$((passed + 1))
    echo "ok   $j_name"
  else
    failed=$((failed + 1))
    echo "FAIL $j_name:$j_why"
  fi
}

# check NAME CLIENT WANT [STATUS [ARGS...]]: one case of a table: the program asked for
# CLIENT (an address as a server writes it in REMOTE_ADDR; "-": REMOTE_ADDR unset) with
# ARGS, by lookup; judged: that output, that status (0 unless given), nothing on standard
# error. A row with fewer than its three fields is refused, as a failed case. A case that
# cannot run here says why, as SKIPPED.
# The settings a case can carry, each as an assignment before check, and who reads it:
#   SERVER=ADDRESS   SERVER_ADDR (unset unless given); over a connection, the address the
#                    server listens on (lookup, host.sh's served)
#   TABLE=NAME       the ARP table: a fixture's, or none or fifo (lookup, fixturecase.sh)
#   ROUTE=NAME       the route table at /proc/net/route of a fixture case (fixturecase.sh)
#   STDOUT=KIND      what standard output is, for a fixture case (fixturecase.sh)
#   CALLED=NAME      the name the program is run by, through a link (lookup)
#   FAULT=CALL:HOW   a system call strace fails, as its inject= takes it (lookup)
#   FROM=PEER        over a live TCP connection from the peer namespace PEER, with
#                    PORT= (8080), VARS= (all, busybox, mini_httpd, or assignments),
#                    SOCKET= (socat's socket options), AS= (the server's uid) and
#                    CONNECT= (the address connected to, SERVER's by default) (served)
check() {
  if [ $# -lt 3 ]; then
    judge "${1:-a row with no name}" fields "$#" "3 or more"
    return 0
  fi
  c_name=$1 c_client=$2 c_want=$3 c_status=${4:-0}
  shift 3
  [ $# -gt 0 ] && shift
  why=""
  cannot
  if [ -n "$why" ]; then
    echo "SKIPPED $c_name: $why"
    return 0
  fi
  lookup "$c_client" "$@"
  judge "$c_name" output "$out" "$c_want" status "$status" "$c_status" stderr "$err" ""
}

# fixture ISOLATE COMMAND...: a fixture case: COMMAND on TABLE (a fixture's name, a file
# of the scratch directory, or as fixturecase.sh takes it), through fixturecase.sh in the
# namespaces that the command ISOLATE makes (its words), with the runner's procdir (the
# /proc whose PID directories stay, or - for none); sets out, status and err.
fixture() {
  f_isolate=$1 f_table=$TABLE
  shift
  [ -f "$testdir/fixtures/$TABLE" ] && f_table=$testdir/fixtures/$TABLE
  [ -f "$scratch/$TABLE" ] && f_table=$scratch/$TABLE
  # shellcheck disable=SC2086 # the runner's words hold no blanks
  # shellcheck disable=SC2086 # the words hold no blanks
  $f_isolate sh "$testdir/fixturecase.sh" "$f_table" "${STDOUT:-file}" "$scratch/out" \
    "$procdir" "$@" 2>"$scratch/err"
  status=$?
  out=""
  [ "${STDOUT:-file}" = file ] && out=$(cat "$scratch/out")
  err=$(cat "$scratch/err")
  rm -f "$scratch/out" "$scratch/out.fifo"
}

# lookup CLIENT [ARGS...]: runs the program for CLIENT ("-": REMOTE_ADDR unset) with
# ARGS, SERVER_ADDR set to SERVER when that is set, through a link named CALLED when that
# is set; sets out, status and err. Where:
# - FROM is set: over a live TCP connection from that peer (host.sh's served);
# - the test has no network namespace (ns unset): a fixture case, in a user, mount and
#   network namespace of its own, through the command nonetlink names when it is set (a
#   helper that denies netlink);
# - in the test's namespace with TABLE set (none or fifo): a /proc of fixturecase.sh's
#   too, where only the program's own /proc/PID is left: no ARP table, so that only the
#   kernel's own lookup can answer, or one that hangs whoever opens it until the limit;
# - else in the test's namespace, on the kernel's tables.
# With FAULT=CALL:error=E:when=N, strace fails the Nth such system call with E (a
# sanitizer's leak check cannot run under ptrace, and is left out).
lookup() {
  l_client=$1 l_program=$CLIENTMAC l_limit=30
  shift
  if [ -n "${CALLED:-}" ]; then
    mkdir -p "$scratch/called" && ln -sf "$CLIENTMAC" "$scratch/called/$CALLED" ||
      die "cannot link $CALLED to the program"
    l_program=$scratch/called/$CALLED
  fi
  # shellcheck disable=SC2086 # the emulator's words hold no blanks
  set -- ${CLIENTMAC_EMULATOR:-} "$l_program" "$@"
  [ -z "${FROM:-}" ] || { served "$l_client" "$@"; return; }
  [ -n "${FAULT:-}" ] &&
    set -- env ASAN_OPTIONS=detect_leaks=0 strace -f -qq -o /dev/null -e "inject=$FAULT" "$@"
  if [ "$l_client" = - ]; then
    set -- env -u REMOTE_ADDR -u SERVER_ADDR ${SERVER:+"SERVER_ADDR=$SERVER"} "$@"
  else
    set -- env -u SERVER_ADDR "REMOTE_ADDR=$l_client" ${SERVER:+"SERVER_ADDR=$SERVER"} "$@"
  fi
  # A table that hangs whoever opens it: the case fails at the limit. A guest under
  # emulation (the VM of Debian's kernel) runs the program far slower.
  [ "${TABLE:-}" = fifo ] && [ -z "${CLIENTMAC_VM:-}" ] && l_limit=5
  if [ -z "${ns:-}" ]; then
    fixture "timeout 30 unshare -rmn" ${nonetlink:+"$nonetlink"} "$@"
  elif [ -n "${TABLE:-}" ]; then
    fixture "inns timeout $l_limit unshare -m" "$@"
  else
    out=$(inns timeout 30 "$@" 2>"$scratch/err")
    status=$?
    err=$(cat "$scratch/err")
  fi
}

# The kernel tests' steps, in the test's network namespace (ns), which make_netns makes
# with two veth pairs up in it (lan0-lan1, wan0-wan1); in the box, the guest itself, its
# links made afresh for each test. There busybox ip knows no nodad (the guest does no
# duplicate address detection at all), no -batch and no veth peer name, and a helper adds
# the neighbour entries.
make_netns() {
  if [ -n "${box:-}" ]; then
    ns=$1
    for m_link in $made; do
      ip link del "$m_link"
    done
    made=""
  else
    ns=clientmac-$1-$$
    atexit 'ip netns del "$ns" 2>/dev/null'
    ip netns add "$ns" || die "cannot create network namespace $ns"
  fi
  veth lan0 lan1 && veth wan0 wan1 || die "cannot set up the namespace's links"
}

# net ARGS...: ip ARGS in the test's namespace.
net() {
  [ -n "${box:-}" ] || { ip -n "$ns" "$@"; return; }
  n_args=""
  for n_word; do
    [ "$n_word" = nodad ] || n_args="$n_args $n_word"
  done
  # shellcheck disable=SC2086 # the words hold no blanks
  ip $n_args
}

# inns COMMAND...: COMMAND in the test's namespace, if it has one.
inns() {
  if [ -n "${box:-}" ] || [ -z "${ns:-}" ]; then
    "$@"
  else
    ip netns exec "$ns" "$@"
  fi
}

# veth NAME PEER: a veth pair in the test's namespace, both ends up.
veth() {
  [ -n "${box:-}" ] || { net link add "$1" type veth peer name "$2" &&
    net link set "$1" up && net link set "$2" up; return; }
  ip link add "$1" type veth && for v_peer in /sys/class/net/veth*; do
    ip link set "${v_peer##*/}" name "$2"
  done && ip link set "$1" up && ip link set "$2" up && made="$made $1"
}

# entry ADDRESS DEVICE STATE [MAC]: one neighbour entry; one that once had an address
# (incomplete or failed, with a MAC) is added stale first, so that the kernel keeps the
# address it last had.
entry() {
  [ -z "${box:-}" ] || { /bin/neighbour-add "$1" "${4:--}" "$2" "$3"; return; }
  case $3/${4:-} in
    incomplete/?* | failed/?*)
      net neigh add "$1" lladdr "$4" dev "$2" nud stale && net neigh change "$1" dev "$2" nud "$3" ;;
    *) net neigh add "$1" ${4:+lladdr "$4"} dev "$2" nud "$3" ;;
  esac
}

# neighbours: an entry for each line ADDRESS DEVICE STATE [MAC] of the input ('#' begins
# a comment); fails at the first it cannot make.
neighbours() {
  while read -r n_address n_device n_state n_mac; do
    case $n_address in '#'* | '') continue ;; esac
    entry "$n_address" "$n_device" "$n_state" "$n_mac" || return 1
  done
}

# entries: the entries of the lines ADDRESS DEVICE STATE MAC of the input, in one batch
# where ip takes one.
entries() {
  [ -z "${box:-}" ] || { neighbours; return; }
  awk '{ print "neigh add", $1, "lladdr", $4, "dev", $2, "nud", $3 }' | net -batch -
}

# Sets why when a case cannot run here: the box has no strace to fail a system call with.
cannot() { [ -z "${box:-}" ] || [ -z "${FAULT:-}" ] || why="the box has no strace to fail a system call with"; }

# Whether an emulator (qemu-user) stands between the tests and the program.
emulated() { [ -n "${CLIENTMAC_EMULATOR:-}" ]; }

# Skips unless this user may create network namespaces; the box is the tests' namespace.
require_netns() {
  [ -n "${box:-}" ] && return 0
  [ "$(id -u)" -eq 0 ] || skip "network namespaces need root (ip netns add)"
  command -v ip >/dev/null || skip "ip (iproute2) is not installed"
}

# Skips unless the program can ask this kernel its questions: qemu-user refuses the rule
# dump (RTM_GETRULE) that every lookup starts with, so under it every answer is the zero
# address; the box runs these cases on real kernels of the routers' CPUs.
require_kernel() {
  emulated && skip "qemu-user refuses the rule dump (RTM_GETRULE) that every lookup starts with; the box runs these cases on real MIPS and ARM kernels"
  return 0
}

# Prints the closing count and sets the exit status from it. In the box the host counts
# the guest's cases from its console, and a sourced test may not end the guest's init.
finish() {
  [ -n "${box:-}" ] && return 0
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
}

# Ends the script as skipped (ctest's SKIP_RETURN_CODE), saying why. In the box, where
# every test was booted to run, that is a failed case.
skip() {
  [ -n "${box:-}" ] && echo "FAIL box: cannot run: $*" && return 0
  echo "SKIPPED: $*"
  exit 77
}

# Ends the script as failed before any case could run.
die() {
  [ -n "${box:-}" ] && echo "FAIL box: $*" && return 0
  echo "FAIL: $*"
  exit 1
}

# cgiscript FILE COMMANDS: a CGI program as a router installs one: the README's header,
# which no cache may keep, then COMMANDS, which write the body.
cgiscript() {
  printf '#!/bin/sh\nprintf '"'"'Content-Type: text/plain\\r\\nCache-Control: no-store\\r\\n\\r\\n'"'"'\n%s\n' \
    "$2" >"$1" && chmod 755 "$1"
}
