#!/bin/bash
# Runs clientmac against the real kernel ARP table of a network namespace of its own,
# filled with permanent entries, prefix neighbours of the clients among them; then
# against a table of 4,000 entries that keeps changing while the client is looked up.

. "$(dirname "$0")/lib.sh"
require_netns

make_netns arp
ip -n "$ns" addr add 198.51.100.1/24 dev lan0 && ip -n "$ns" addr add 203.0.113.1/24 dev wan0 ||
  die "cannot address the namespace's links"

# neighbour ADDRESS MAC DEVICE
neighbour() {
  ip -n "$ns" neigh add "$1" lladdr "$2" dev "$3" nud permanent || die "cannot add neighbour $1"
}
neighbour 198.51.100.2   02:00:00:00:00:02 lan0
neighbour 198.51.100.20  02:00:00:00:00:20 lan0
neighbour 198.51.100.200 02:00:00:00:02:00 lan0
neighbour 198.51.100.21  02:00:00:00:00:21 lan0
neighbour 198.51.100.120 02:00:00:00:01:20 lan0
neighbour 203.0.113.2    02:00:00:71:13:02 wan0
neighbour 203.0.113.25   02:00:00:71:13:25 wan0
# Listed on one interface while the route to it leaves by another: only the table has it.
neighbour 198.51.100.77  02:00:00:00:00:77 wan0
# The same address on both interfaces: the one the route leaves by is the client's.
neighbour 198.51.100.88  02:00:00:00:00:88 lan0
neighbour 198.51.100.88  02:00:00:71:13:88 wan0
neighbour 203.0.113.99   02:00:00:00:00:99 lan0
neighbour 203.0.113.99   02:00:00:71:13:99 wan0
ip -n "$ns" route add 203.0.113.99 dev lan0 || die "cannot add the host route"
# A link without ARP: the ARP table leaves such an entry out.
ip -n "$ns" neigh add 198.51.100.66 lladdr 02:00:00:00:00:66 dev lan0 nud noarp ||
  die "cannot add the NOARP neighbour"

# check NAME CLIENT WANTOUT: TABLE=hidden before it hides /proc/net/arp, which leaves
# only the kernel's own lookup; TABLE=listed marks a client whose entry the table lists
# first is not the one on its route's interface. qemu-user refuses the kernel's own
# lookup, so the emulated program answers zero, or the entry listed first.
check() {
  local want=$3
  if emulated; then
    [ "${TABLE:-}" = hidden ] && want=00:00:00:00:00:00
    [ "${TABLE:-}" = listed ] &&
      want=$(ip netns exec "$ns" awk -v a="$2" '$1 == a { print $4; exit }' /proc/net/arp)
  fi
  lookup "$2"
  judge "$1" output "$out" "$want" status "$status" 0 stderr "$err" ""
}

# Each client gets its own hardware address, whatever the kernel lists before it.
check "client .2"                 198.51.100.2              02:00:00:00:00:02
check "client .20"                198.51.100.20             02:00:00:00:00:20
check "client .200"               198.51.100.200            02:00:00:00:02:00
check "client .21"                198.51.100.21             02:00:00:00:00:21
check "client .120"               198.51.100.120            02:00:00:00:01:20
check "second interface"          203.0.113.25              02:00:00:71:13:25
check "mapped client"             ::ffff:198.51.100.20      02:00:00:00:00:20
check "bracketed mapped client"   '[::ffff:203.0.113.2]'    02:00:00:71:13:02

# A client the table does not list gets the zero address, never a neighbour's.
check "unlisted longer client"    198.51.100.202            00:00:00:00:00:00
check "unlisted shorter client"   198.51.100.12             00:00:00:00:00:00
check "own address"               198.51.100.1              00:00:00:00:00:00
check "NOARP entry"               198.51.100.66             00:00:00:00:00:00

# The kernel's own lookup answers on the route's interface; the table, where it cannot.
TABLE=hidden check "table hidden" 198.51.100.20             02:00:00:00:00:20
TABLE=hidden check "hidden, mapped in hex" ::ffff:c633:6414 02:00:00:00:00:20
TABLE=hidden check "hidden, unlisted" 198.51.100.202        00:00:00:00:00:00
TABLE=listed check "route's interface .88" 198.51.100.88   02:00:00:00:00:88
TABLE=listed check "route's interface .99" 203.0.113.99    02:00:00:00:00:99
check "only the table has it"     198.51.100.77             02:00:00:00:00:77

# A busy hotspot: while half of the other 4,000 entries go and come back, the client,
# listed last, is found every time.
churn() {
  local lookups=300 pair i dev
  for pair in 0 1 2 3 4 5 6 7; do
    ip -n "$ns" link add "c${pair}a" type veth peer name "c${pair}b" &&
      ip -n "$ns" link set "c${pair}a" up && ip -n "$ns" link set "c${pair}b" up ||
      die "cannot add the churn links"
  done
  : >"$lookuperr.add"
  for i in $(seq 0 3999); do
    dev=c$((i / 508))$([ $((i / 254 % 2)) -eq 0 ] && echo a || echo b)
    printf 'neigh add 203.0.113.%d lladdr 02:00:00:99:%02x:%02x dev %s nud permanent\n' \
      $((i % 254 + 1)) $((i / 254)) $((i % 254 + 1)) "$dev"
  done >"$lookuperr.all"
  ip -n "$ns" -batch "$lookuperr.all" || die "cannot add the churn entries"
  local last client device mac
  last=$(ip netns exec "$ns" tail -n 1 /proc/net/arp)
  read -r client _ _ mac _ device <<<"$last"
  ip -n "$ns" route add "$client" dev "$device" || die "cannot route to $client"
  # The client's address is its entry's alone; every other of the rest goes and comes back.
  local todel='s/^neigh add \([^ ]*\) lladdr [^ ]* dev \([^ ]*\) .*/neigh del \1 dev \2/'
  grep " $client lladdr " "$lookuperr.all" | grep -v " $mac " | sed "$todel" |
    ip -n "$ns" -batch - || die "cannot make $client unique"
  grep -v " $client lladdr " "$lookuperr.all" | awk 'NR % 2' >"$lookuperr.add"
  sed "$todel" "$lookuperr.add" >"$lookuperr.del"
  timeout 120 bash -c 'while :; do ip -n "$0" -batch "$1"; ip -n "$0" -batch "$2"; done' \
    "$ns" "$lookuperr.del" "$lookuperr.add" >/dev/null 2>&1 &
  local churner=$!
  local replies
  replies=$(ip netns exec "$ns" env REMOTE_ADDR="$client" timeout 120 bash -c \
    'for i in $(seq "$0"); do "$@"; echo; done' "$lookups" "${clientmac[@]}" 2>&1)
  kill "$churner" 2>/dev/null
  wait "$churner" 2>/dev/null
  rm -f "$lookuperr".{all,add,del}
  judge "churn: $lookups lookups of $client" lookups "$(echo "$replies" | wc -l)" "$lookups" \
    misses "$(echo "$replies" | grep -cvx "$mac")" 0
}
if emulated; then
  echo "SKIPPED: churn; qemu-user refuses RTM_GETNEIGH, and the table file it falls back to can miss a changing table's entries"
else
  churn
fi

finish
