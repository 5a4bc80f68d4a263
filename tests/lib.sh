# Shared by the test scripts: how to run the program, how to judge a case, how to skip,
# and how to clean up. Each script sets CLIENTMAC to the binary under test;
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
testdir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
passed=0
failed=0

# One list of clean-ups, run when the script ends, by a signal too, the last added first.
cleanups=()
atexit() {
  cleanups=("$1" "${cleanups[@]}")
}
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

# Ends the script as skipped (ctest's SKIP_RETURN_CODE), saying why.
skip() {
  echo "SKIPPED: $*"
  exit 77
}

# Ends the script as failed before any case could run.
die() {
  echo "FAIL: $*"
  exit 1
}

# Records one case: name, then pairs of what came and what was wanted.
judge() {
  local name=$1
  shift
  local why=""
  while [ $# -ge 3 ]; do
    [ "$2" == "$3" ] || why+=" $1: got '$2', want '$3';"
    shift 3
  done
  if [ -z "$why" ]; then
    passed=$((passed + 1))
    echo "ok   $name"
  else
    failed=$((failed + 1))
    echo "FAIL $name:$why"
  fi
}

# Prints the closing count and sets the exit status from it.
finish() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
}

# Whether the emulator stands between us and the binary.
emulated() {
  [ ${#emulator[@]} -gt 0 ]
}

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
  local pair
  for pair in lan wan; do
    ip -n "$ns" link add "${pair}0" type veth peer name "${pair}1" &&
      ip -n "$ns" link set "${pair}0" up && ip -n "$ns" link set "${pair}1" up ||
      die "cannot set up the namespace's links"
  done
}

# cgiscript FILE COMMANDS: a CGI program as a router installs one: the README's header,
# which no cache may keep, then COMMANDS, which write the body.
cgiscript() {
  printf '#!/bin/sh\nprintf '"'"'Content-Type: text/plain\\r\\nCache-Control: no-store\\r\\n\\r\\n'"'"'\n%s\n' \
    "$2" >"$1" && chmod 755 "$1"
}

# check NAME CLIENT WANTOUT: one lookup in the namespace (TABLE= and FAULT= as lookup
# takes them), judged: that output, status 0, nothing on standard error. Under qemu-user,
# which refuses RTM_GETNEIGH and makes system calls of its own, a case that needs either
# (the script's needsneighbourget says which) prints SKIPPED instead.
check() {
  if emulated && { [ -n "${FAULT:-}" ] || needsneighbourget; }; then
    echo "SKIPPED $1: qemu-user refuses RTM_GETNEIGH and makes system calls of its own"
    return
  fi
  lookup "$2"
  judge "$1" output "$out" "$3" status "$status" 0 stderr "$err" ""
}

# lookup CLIENT: runs clientmac in the namespace; sets out, status and err. With
# TABLE=hidden, /proc is a tmpfs that holds only the program's own /proc/PID (sanitizers
# read it), so that only the kernel's own lookup can answer; with TABLE=fifo, it holds a
# FIFO with no writer at /proc/net/arp too, so that a lookup that opens the table hangs
# until the timeout. Every command from unshare on execs the next, so the program keeps
# the shell's PID. With FAULT=CALL:error=E:when=N,
# strace fails the Nth such system call with E (a sanitizer's leak check cannot run
# under ptrace, and is left out).
lookup() {
  local hide=() fault=()
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
  out=$(timeout "$limit" ip netns exec "$ns" "${hide[@]}" env "REMOTE_ADDR=$1" "${fault[@]}" \
    "${clientmac[@]}" 2>"$lookuperr")
  status=$?
  err=$(cat "$lookuperr")
}
