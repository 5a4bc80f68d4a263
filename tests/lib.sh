# The host's part of the test harness, in bash: how to run the program, in the test's own
# namespaces, and how to clean up; how to judge is common.sh's, which the router in a box
# shares. Each script sets CLIENTMAC to the binary under test; CLIENTMAC_EMULATOR, when
# set, is the command that runs a cross-built binary (qemu-user).

set -u
# As root, a test runs in a mount namespace of its own, whose /run/netns is its own too:
# the network namespaces it names there, and the servers in them, end with it however it
# ends, killed at ctest's timeout too.
if [ "$(id -u)" -eq 0 ] && [ -z "${CLIENTMAC_PRIVATE:-}" ]; then
  export CLIENTMAC_PRIVATE=1
  exec unshare --mount --propagation private bash -c \
    'mkdir -p /run/netns && mount -t tmpfs netns /run/netns && exec bash "$0" "$@"' "$0" "$@"
fi
: "${CLIENTMAC:?CLIENTMAC must name the binary under test}"
read -r -a emulator <<<"${CLIENTMAC_EMULATOR:-}"
# A test that runs the program skips where its emulator is not installed; one that only
# reads the binary (size, box) says so with CLIENTMAC_READS_ONLY=1.
if [ ${#emulator[@]} -gt 0 ] && [ -z "${CLIENTMAC_READS_ONLY:-}" ] &&
  ! command -v "${emulator[0]}" >/dev/null; then
  echo "SKIPPED: ${emulator[0]} is not installed (apt-get install qemu-user-static)"
  exit 77
fi
clientmac=("${emulator[@]}" "$CLIENTMAC")
echo "running: ${clientmac[*]}"
testdir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$testdir/common.sh"

# One list of clean-ups, run when the script ends, by a signal too, the last added first.
cleanups=()
atexit() { cleanups=("$1" "${cleanups[@]}"); }
trap 'for cleanup in "${cleanups[@]}"; do eval "$cleanup"; done' EXIT
trap 'exit 143' TERM INT HUP
# A scratch directory of the script's own.
scratch=$(mktemp -d)
atexit 'rm -rf "$scratch"'
mkdir "$scratch/proc"

# clean_copy SOURCE DEST: the tree as a distribution's build starts from it, in DEST: the
# files git tracks, or the tree less its build directories.
clean_copy() {
  mkdir -p "$2" || return
  if git -C "$1" rev-parse 2>/dev/null; then
    (cd "$1" && git ls-files -z | xargs -0 cp --parents -t "$2")
  else
    (cd "$1" && tar --exclude='./build*' -cf - .) | tar -xf - -C "$2"
  fi
}

# Whether the emulator stands between us and the binary.
emulated() { [ ${#emulator[@]} -gt 0 ]; }

# Skips unless this user may create network namespaces.
require_netns() {
  [ "$(id -u)" -eq 0 ] || skip "network namespaces need root (ip netns add)"
  command -v ip >/dev/null || skip "ip (iproute2) is not installed"
}

# Makes a network namespace of the test's own, removed again on exit, with two veth pairs
# up in it (lan0-lan1, wan0-wan1), and sets ns to its name.
make_netns() {
  ns=clientmac-$1-$$
  atexit 'ip netns del "$ns" 2>/dev/null'
  ip netns add "$ns" || die "cannot create network namespace $ns"
  veth lan0 lan1 && veth wan0 wan1 || die "cannot set up the namespace's links"
}

# What a kernel test does in its namespace, as the box does it in its own kernel:
# net ARGS...: ip ARGS there; inns COMMAND...: COMMAND there; veth NAME PEER: a veth
# pair, both ends up; entry ADDRESS DEVICE STATE [MAC]: one neighbour entry, one that
# once had an address (incomplete or failed, with a MAC) added stale first, so that the
# kernel keeps the address it last had; entries: in one batch, one for each line ADDRESS
# DEVICE STATE MAC of the input.
net() { ip -n "$ns" "$@"; }
inns() { ip netns exec "$ns" "$@"; }
veth() { net link add "$1" type veth peer name "$2" &&
  net link set "$1" up && net link set "$2" up; }
entry() {
  case $3/${4:-} in
    incomplete/?* | failed/?*)
      net neigh add "$1" lladdr "$4" dev "$2" nud stale && net neigh change "$1" dev "$2" nud "$3" ;;
    *) net neigh add "$1" ${4:+lladdr "$4"} dev "$2" nud "$3" ;;
  esac
}
entries() { awk '{ print "neigh add", $1, "lladdr", $4, "dev", $2, "nud", $3 }' | net -batch -; }

# Every case can run here; the box cannot fail a system call.
cannot() { :; }

# Skips unless the program can ask this kernel its questions: qemu-user refuses the rule
# dump (RTM_GETRULE) that every lookup starts with, so under it every answer is the zero
# address; the box runs these cases on real kernels of the routers' CPUs.
require_kernel() {
  emulated && skip "qemu-user refuses the rule dump (RTM_GETRULE) that every lookup starts with; the box runs these cases on real MIPS and ARM kernels"
  return 0
}

# rulereads CLIENT: how many datagrams a plain lookup of CLIENT in the test's namespace
# reads for its first question, the rule dump: one on kernels that end a dump in the
# datagram of its last message, two on older ones. A case that fails a later read counts
# from it.
rulereads() {
  local reads
  # A sanitizer's leak check cannot run under ptrace, and is left out.
  inns env REMOTE_ADDR="$1" ASAN_OPTIONS=detect_leaks=0 strace -f -qq -e trace=recvfrom \
    -o "$scratch/calls" "${clientmac[@]}" >/dev/null 2>&1
  reads=$(grep -c 'recvfrom(' "$scratch/calls") && [ "$reads" -ge 3 ] && echo $((reads - 2))
}

# peer NAME DEVICE MAC ADDRESS/PREFIX...: a host of the test's own at the far end of
# DEVICE, a veth end of the test's namespace moved into a namespace NAME of its own, with
# hardware address MAC and each ADDRESS: a client that a case connects from (FROM=NAME).
peer() {
  local name=clientmac-$1-$$ device=$2 mac=$3 address
  shift 3
  atexit "ip netns del $name 2>/dev/null"
  ip netns add "$name" && net link set "$device" netns "$name" &&
    ip -n "$name" link set "$device" address "$mac" && ip -n "$name" link set lo up || return
  for address; do
    case $address in
      *:*) ip -n "$name" addr add "$address" dev "$device" nodad ;;
      *) ip -n "$name" addr add "$address" dev "$device" ;;
    esac || return
  done
  ip -n "$name" link set "$device" up
}

# bracketed ADDRESS: ADDRESS as socat takes it, an IPv6 one in brackets.
bracketed() { case $1 in *:*) echo "[$1]" ;; *) echo "$1" ;; esac; }

# served CLIENT PROGRAM...: a case over a live TCP connection, as a web server serves one:
# from CLIENT (an address of the peer FROM) to SERVER, port PORT (8080), where socat in
# the test's namespace listens as user AS (root) with the socket options SOCKET, and runs
# PROGRAM for the connection with the CGI variables that VARS names: "all" (the default:
# REMOTE_ADDR, REMOTE_PORT, SERVER_ADDR, SERVER_PORT, as lighttpd, apache2, nginx and
# uhttpd set them), "busybox" (no SERVER_ADDR nor SERVER_PORT), "mini_httpd" (no
# REMOTE_PORT nor SERVER_ADDR, and the connection itself on standard input), or
# assignments of the test's own. The program writes to the connection; sets out (what the
# client read), status (0: the server keeps it) and err (what the server's side wrote on
# standard error).
served() {
  local client=$1 port=${PORT:-8080} listen=TCP-LISTEN connect=TCP nofork="" vars server
  shift
  case ${VARS:-all} in
    all) vars='REMOTE_ADDR=$SOCAT_PEERADDR REMOTE_PORT=$SOCAT_PEERPORT SERVER_ADDR=$SOCAT_SOCKADDR SERVER_PORT=$SOCAT_SOCKPORT' ;;
    busybox) vars='REMOTE_ADDR=$SOCAT_PEERADDR REMOTE_PORT=$SOCAT_PEERPORT' ;;
    mini_httpd) vars='REMOTE_ADDR=$SOCAT_PEERADDR SERVER_PORT=$SOCAT_SOCKPORT' nofork=,nofork ;;
    *) vars=$VARS ;;
  esac
  case $SERVER in *:*) listen=TCP6-LISTEN ;; esac
  case $client in *:*) connect=TCP6 ;; esac
  # A server of another user reaches the program by a copy of its own: the tree may be
  # where only root may look (a clone under /root).
  if [ -n "${AS:-}" ]; then
    cp "$CLIENTMAC" "$scratch/program" || die "cannot copy the program for user $AS"
    set -- "$scratch/program"
  fi
  # The server's CGI set-up in a script, which socat's address syntax leaves alone. Once
  # the client has sent all it sends, the server waits for the program's answer as long
  # as a slow guest needs (-t), not socat's half second.
  printf 'exec env -i %s %s\n' "$vars" "$*" >"$scratch/cgi" && chmod 755 "$scratch" ||
    die "cannot write the server's set-up"
  inns ${AS:+setpriv --reuid="$AS" --regid="$AS" --clear-groups} timeout 60 socat -t 30 \
    "$listen:$port,bind=$(bracketed "$SERVER"),reuseaddr${SOCKET:+,$SOCKET}" \
    "SYSTEM:sh $scratch/cgi$nofork" 2>"$scratch/err" &
  server=$!
  out=$(ip netns exec "clientmac-$FROM-$$" timeout 60 socat -t 30 - \
    "$connect:$(bracketed "${CONNECT:-$SERVER}"):$port,bind=$(bracketed "$client"),retry=300,interval=0.1" \
    </dev/null 2>>"$scratch/err")
  kill "$server" 2>/dev/null
  wait "$server" 2>/dev/null
  status=0
  err=$(cat "$scratch/err")
}

# lookup CLIENT [ARGS...]: runs clientmac for CLIENT, through a link named CALLED when
# that is set; sets out, status and err. Without a namespace, a fixture case, in a
# private user+mount+network namespace, through the command that nonetlink names (one
# that denies netlink) when it is set. In a kernel
# test's namespace (ns), the kernel's tables; with TABLE=none or fifo, a /proc of
# fixturecase.sh's too, where only the program's own /proc/PID (sanitizers read it) is
# left: no ARP table, so that only the kernel's own lookup can answer, or one that hangs
# whoever opens it until the timeout. With FAULT=CALL:error=E:when=N, strace fails the
# Nth such system call with E (a sanitizer's leak check cannot run under ptrace, and is
# left out).
lookup() {
  local client=$1 fault=() setclient=(env -u REMOTE_ADDR -u SERVER_ADDR) program=("${clientmac[@]}")
  shift
  if [ -n "${CALLED:-}" ]; then
    mkdir -p "$scratch/called" && ln -sf "$CLIENTMAC" "$scratch/called/$CALLED" ||
      die "cannot link $CALLED to the program"
    program=("${emulator[@]}" "$scratch/called/$CALLED")
  fi
  [ "$client" != - ] && setclient+=("REMOTE_ADDR=$client")
  [ -n "${SERVER:-}" ] && setclient+=("SERVER_ADDR=$SERVER")
  [ -n "${FAULT:-}" ] &&
    fault=(env ASAN_OPTIONS=detect_leaks=0 strace -f -qq -o /dev/null -e "inject=$FAULT")
  local run=("${setclient[@]}" "${fault[@]}" "${program[@]}" "$@") limit=30
  # A table that hangs whoever opens it: the case fails at the limit. A guest under
  # emulation (the VM of Debian's kernel) runs the program far slower.
  [ "${TABLE:-}" = fifo ] && limit=${CLIENTMAC_VM:+30}
  [ "${TABLE:-}" = fifo ] && limit=${limit:-5}
  if [ -n "${FROM:-}" ]; then
    served "$client" "${program[@]}" "$@"
  elif [ -z "${ns:-}" ]; then
    fixtureunshare="timeout 30 unshare -rmn" fixture "$scratch/proc" ${nonetlink:+"$nonetlink"} "${run[@]}"
  elif [ -n "${TABLE:-}" ]; then
    fixtureunshare="timeout $limit ip netns exec $ns unshare -m" fixture "$scratch/proc" "${run[@]}"
  else
    out=$(timeout 30 ip netns exec "$ns" "${run[@]}" 2>"$scratch/err")
    status=$?
    err=$(cat "$scratch/err")
  fi
}
