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
  lookuperr=$scratch/lookup.err
  lookupproc=$scratch/proc
  mkdir "$lookupproc"
  atexit 'ip netns del "$ns" 2>/dev/null'
  ip netns add "$ns" || die "cannot create network namespace $ns"
  veth lan0 lan1 && veth wan0 wan1 || die "cannot set up the namespace's links"
}

# What a kernel test does in its namespace, as the box does it in its own kernel:
# net ARGS...: ip ARGS there; inns COMMAND...: COMMAND there; veth NAME PEER: a veth
# pair, both ends up; entry ADDRESS DEVICE STATE [MAC]: one neighbour entry, one that
# once had an address (incomplete or failed, with a MAC) added stale first, so that the
# kernel keeps the address it last had; entries: one for each line ADDRESS DEVICE STATE
# MAC of the input.
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

# Under qemu-user, which refuses RTM_GETNEIGH and makes system calls of its own, a case
# that needs either (FAULT=, or what the test's needsneighbourget says) cannot run.
cannot() {
  if emulated && { [ -n "${FAULT:-}" ] || needsneighbourget; }; then
    why="qemu-user refuses RTM_GETNEIGH and makes system calls of its own"
  fi
}

# lookup CLIENT [ARGS...]: runs clientmac for CLIENT; sets out, status and err. In a
# kernel test's namespace (ns): with TABLE=hidden, /proc is a tmpfs that holds only the
# program's own /proc/PID (sanitizers read it), so that only the kernel's own lookup can
# answer; with TABLE=fifo, it holds a FIFO with no writer at /proc/net/arp too, so that a
# lookup that opens the table hangs until the timeout. Every command from unshare on
# execs the next, so the program keeps the shell's PID. With FAULT=CALL:error=E:when=N,
# strace fails the Nth such system call with E (a sanitizer's leak check cannot run
# under ptrace, and is left out). Without a namespace, a fixture case: TABLE is a
# fixture file, or as fixturecase.sh takes it, in a private user+mount+network
# namespace, with standard output as STDOUT says (then nothing is read back).
lookup() {
  local client=$1 hide=() fault=() setclient=(env -u REMOTE_ADDR)
  shift
  [ "$client" != - ] && setclient=(env "REMOTE_ADDR=$client")
  if [ -z "${ns:-}" ]; then
    local path=$TABLE mode=${STDOUT:-file}
    [ -f "$testdir/fixtures/$TABLE" ] && path=$testdir/fixtures/$TABLE
    [ -f "$scratch/$TABLE" ] && path=$scratch/$TABLE
    timeout 30 unshare -rmn sh "$testdir/fixturecase.sh" "$path" "$mode" "$scratch/out" \
      "$scratch/proc" "${setclient[@]}" "${clientmac[@]}" "$@" 2>"$scratch/err"
    status=$?
    out=""
    [ "$mode" = file ] && out=$(cat "$scratch/out")
    err=$(cat "$scratch/err")
    rm -f "$scratch/out" "$scratch/out.fifo"
    return
  fi
  case ${TABLE:-} in hidden | fifo)
    hide=(unshare -m sh -c 'mount --rbind /proc "$0" && mount -t tmpfs none /proc &&
      mkdir /proc/$$ && mount --rbind "$0/$$" /proc/$$ && ln -s $$ /proc/self &&
      { [ "$1" = hidden ] || { mkdir /proc/net && mkfifo /proc/net/arp; }; } && shift &&
      exec "$@"' "$lookupproc" "$TABLE") ;;
  esac
  local limit=30
  [ "${TABLE:-}" = fifo ] && limit=5
  [ -n "${FAULT:-}" ] &&
    fault=(env ASAN_OPTIONS=detect_leaks=0 strace -f -qq -o /dev/null -e "inject=$FAULT")
  out=$(timeout "$limit" ip netns exec "$ns" "${hide[@]}" "${setclient[@]}" "${fault[@]}" \
    "${clientmac[@]}" "$@" 2>"$lookuperr")
  status=$?
  err=$(cat "$lookuperr")
}
