#!/bin/bash
# Runs clientmac against the real kernel ARP table of a network namespace of its own,
# filled with permanent entries, prefix neighbours of the clients among them.

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

# check NAME CLIENT WANTOUT
check() {
  lookup "$2"
  judge "$1" output "$out" "$3" status "$status" 0 stderr "$err" ""
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

finish
