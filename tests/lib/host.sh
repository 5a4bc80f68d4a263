# The tests' runner on this machine, in bash: each test in namespaces of its own, its
# clean-ups, and live connections; the cases themselves run and are judged by cases.sh,
# which the router in a box shares. Each script sets CLIENTMAC to the binary under test;
# CLIENTMAC_EMULATOR, when set, is the command that runs a cross-built binary (qemu-user).

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
testdir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# One list of clean-ups, run when the script ends, by a signal too, the last added first.
cleanups=()
atexit() { cleanups=("$1" "${cleanups[@]}"); }
trap 'for cleanup in "${cleanups[@]}"; do eval "$cleanup"; done' EXIT
trap 'exit 143' TERM INT HUP
# A scratch directory of the script's own.
scratch=$(mktemp -d)
atexit 'rm -rf "$scratch"'
mkdir "$scratch/proc"
# The /proc whose PID directories a fixture case keeps: sanitizers and valgrind read them.
procdir=$scratch/proc
. "$testdir/lib/cases.sh"

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
