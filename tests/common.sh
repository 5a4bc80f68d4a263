# The part of the test harness that the host's tests (through lib.sh) and the router in a
# box share, in POSIX sh, as busybox runs it: how a case is judged and counted, and how a
# test ends. The runner that sources it provides lookup (the program run for one client:
# sets out, status and err) and cannot (sets why when a case cannot run there).

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
# CLIENT ("-": REMOTE_ADDR unset) with ARGS, by the runner's lookup; judged: that output,
# that status (0 unless given), nothing on standard error. A row with fewer than its three
# fields is refused, as a failed case. A case the runner cannot run says why, as SKIPPED.
# The settings a case can carry, each as an assignment before check, and who reads it:
#   SERVER=ADDRESS   SERVER_ADDR (unset unless given); over a connection, the address the
#                    server listens on (lib.sh's served)
#   TABLE=NAME       the ARP table: a fixture's, or none or fifo (lib.sh, fixturecase.sh)
#   ROUTE=NAME       the route table at /proc/net/route of a fixture case (fixturecase.sh)
#   STDOUT=KIND      what standard output is, for a fixture case (fixturecase.sh)
#   CALLED=NAME      the name the program is run by, through a link (lib.sh, box's lib.sh)
#   FAULT=CALL:HOW   a system call strace fails, as its inject= takes it (lib.sh)
#   FROM=PEER        over a live TCP connection from the peer namespace PEER, with
#                    PORT= (8080), VARS= (all, busybox, mini_httpd, or assignments),
#                    SOCKET= (socat's socket options), AS= (the server's uid) and
#                    CONNECT= (the address connected to, SERVER's by default) (lib.sh)
#   OVER=4|6|ll      the web request's address family, SCRIPT=NAME the CGI program asked
#                    for (webserver.sh)
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

# fixture PROCDIR COMMAND...: a fixture case: COMMAND on TABLE (a fixture's name, a file
# of the scratch directory, or as fixturecase.sh takes it), in the namespaces that the
# runner's fixtureunshare makes, through fixturecase.sh with PROCDIR; sets out, status and
# err.
fixture() {
  f_keep=$1 f_table=$TABLE
  shift
  [ -f "$testdir/fixtures/$TABLE" ] && f_table=$testdir/fixtures/$TABLE
  [ -f "$scratch/$TABLE" ] && f_table=$scratch/$TABLE
  # shellcheck disable=SC2086 # the runner's words hold no blanks
  $fixtureunshare sh "$testdir/fixturecase.sh" "$f_table" "${STDOUT:-file}" "$scratch/out" \
    "$f_keep" "$@" 2>"$scratch/err"
  status=$?
  out=""
  [ "${STDOUT:-file}" = file ] && out=$(cat "$scratch/out")
  err=$(cat "$scratch/err")
  rm -f "$scratch/out" "$scratch/out.fifo"
}

# neighbours: an entry for each line ADDRESS DEVICE STATE [MAC] of the input ('#' begins
# a comment), as the runner's entry makes one; fails at the first it cannot make.
neighbours() {
  while read -r n_address n_device n_state n_mac; do
    case $n_address in '#'* | '') continue ;; esac
    entry "$n_address" "$n_device" "$n_state" "$n_mac" || return 1
  done
}


# Prints the closing count and sets the exit status from it.
finish() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
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

# cgiscript FILE COMMANDS: a CGI program as a router installs one: the README's header,
# which no cache may keep, then COMMANDS, which write the body.
cgiscript() {
  printf '#!/bin/sh\nprintf '"'"'Content-Type: text/plain\\r\\nCache-Control: no-store\\r\\n\\r\\n'"'"'\n%s\n' \
    "$2" >"$1" && chmod 755 "$1"
}
