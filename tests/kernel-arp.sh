#!/bin/bash
# Runs clientmac against the real kernel ARP table of a network namespace of its own,
# filled with permanent entries, prefix neighbours of the clients among them, entries
# planted for clients behind a gateway and entries the kernel holds no address for; routed
# by policy rules on the source, the ports, the mark and the owner, in VRFs where the
# kernel has them, and over many paths, with the server's own address (SERVER_ADDR) and
# without, and over live TCP connections from clients of their own, with the variables as
# web servers set them; with chosen system calls failing; then against a table of 4,000
# entries that keeps changing while the client is looked up.

# In the router in a box, the guest has sourced its own runner first.
[ -n "${box:-}" ] || . "$(dirname "$0")/lib/host.sh"
require_netns
require_kernel

make_netns arp
net addr add 198.51.100.1/24 dev lan0 && net addr add 203.0.113.1/24 dev wan0 ||
  die "cannot address the namespace's links"

neighbours <<'TABLE' || die "cannot add the neighbours"
198.51.100.2   lan0 permanent 02:00:00:00:00:02
198.51.100.20  lan0 permanent 02:00:00:00:00:20
198.51.100.200 lan0 permanent 02:00:00:00:02:00
198.51.100.21  lan0 permanent 02:00:00:00:00:21
198.51.100.120 lan0 permanent 02:00:00:00:01:20
203.0.113.2    wan0 permanent 02:00:00:71:13:02
203.0.113.25   wan0 permanent 02:00:00:71:13:25
# Listed on one interface while the route to it leaves by another: another machine.
198.51.100.77  wan0 permanent 02:00:00:00:00:77
# The same address on both interfaces: the one the route leaves by is the client's (a
# host route takes .99 to lan0).
198.51.100.88  lan0 permanent 02:00:00:00:00:88
198.51.100.88  wan0 permanent 02:00:00:71:13:88
203.0.113.99   lan0 permanent 02:00:00:00:00:99
203.0.113.99   wan0 permanent 02:00:00:71:13:99
# A link without ARP: the ARP table leaves such an entry out.
198.51.100.66  lan0 noarp     02:00:00:00:00:66
# On both interfaces too, for the fault cases below.
198.51.100.80  lan0 permanent 02:00:00:00:00:80
198.51.100.80  wan0 permanent 02:00:00:71:13:80
# Clients behind a gateway on the LAN, with entries planted under their addresses on
# either side, as one ARP request naming the address as its sender plants them.
198.51.100.254 lan0 permanent 02:00:00:00:02:54
203.0.113.200  lan0 permanent 02:aa:00:00:02:00
203.0.113.201  wan0 permanent 02:aa:00:00:02:01
# Entries that held an address and hold none now: the table still lists the old one.
198.51.100.30  lan0 incomplete 02:00:00:00:00:30
198.51.100.31  lan0 failed     02:00:00:00:00:30
TABLE
net route add 203.0.113.99 dev lan0 && net route add 203.0.113.128/25 via 198.51.100.254 dev lan0 ||
  die "cannot add the routes"
# Tenant B's network, kept apart from the LAN by a table of its own, which the rules of
# each case group below pick: the same prefix on ten0, its portal at .253, and a client .20
# of its own.
veth ten0 ten1 && net addr add 198.51.100.253/32 dev ten0 &&
  net route add 198.51.100.0/24 dev ten0 table 100 &&
  entry 198.51.100.20 ten0 permanent 02:00:00:00:b0:20 || die "cannot add tenant B's network"
# An uplink reached by source policy only, with no default route in the main table; a LAN
# host planted an entry under a remote client's address.
net route add default via 203.0.113.254 dev wan0 table 200 &&
  entry 192.0.2.99 lan0 permanent 02:aa:00:00:09:99 || die "cannot add the uplink"
# The clients that cases reach over live connections, each a host of its own: tenant A's
# .20 behind lan0 and tenant B's .20 behind ten0, with the hardware addresses the table
# lists for them. The box has no namespaces nor socat to run them with.
connections=""
if [ -z "${box:-}" ] && command -v socat >/dev/null; then
  peer a lan1 02:00:00:00:00:20 198.51.100.20/24 && peer b ten1 02:00:00:00:b0:20 198.51.100.20/24 ||
    die "cannot add the clients"
  connections=yes
fi
# connected NAME...: NAME's rows need live connections, or say why they are skipped.
connected() {
  [ -n "$connections" ] && return
  echo "SKIPPED $*: $([ -n "${box:-}" ] && echo "the box has no namespaces nor socat" || echo "socat is not installed")"
  return 1
}
# On-link multipath: .160/28 leaves by lan0 or mp0, picked by a hash of the source and the
# client with a seed of the kernel's own. A client whose reply leaves by another path than
# the route with no source takes, its entry on the reply's path, one planted on the other.
multipath() {
  local i reply sourceless
  veth mp0 mp1 && net route add 198.51.100.160/28 nexthop dev lan0 nexthop dev mp0 || return
  for i in $(seq 161 174); do
    reply=$(inns ip route get 198.51.100.$i from 198.51.100.1 | sed -n 's/.* dev \([^ ]*\).*/\1/p')
    sourceless=$(inns ip route get 198.51.100.$i | sed -n 's/.* dev \([^ ]*\).*/\1/p')
    [ "$reply" != "$sourceless" ] && break
  done
  manypaths=198.51.100.$i
  entry "$manypaths" "$reply" permanent 02:00:00:00:01:61 &&
    entry "$manypaths" "$([ "$reply" = lan0 ] && echo mp0 || echo lan0)" permanent 02:aa:00:00:01:61
}
[ -n "${box:-}" ] || multipath || die "cannot add the paths"
twice=198.51.100.80
# For the fault cases, a client on both interfaces, routed by the one the table lists
# second, so that a fallback that forgot the route would give the entry listed first.
second=$(inns awk -v a=$twice '$1 == a && ++n == 2 { print $6, $4 }' /proc/net/arp)
twicedev=${second% *} twicemac=${second#* }
net route add "$twice" dev "$twicedev" || die "cannot route to $twice"

# Cases run by cases.sh's check.

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
# The kernel's "no such entry", and this host's own address, are answers: no table is read.
TABLE=fifo check "unlisted, table never opened" 198.51.100.202 00:00:00:00:00:00
TABLE=fifo check "own address, table never opened" 198.51.100.1  00:00:00:00:00:00

# The kernel's own lookup answers on the route's interface; the table, where it cannot,
# counts only entries on that interface too.
TABLE=none check "table hidden" 198.51.100.20             02:00:00:00:00:20
TABLE=none check "hidden, mapped in hex" ::ffff:c633:6414 02:00:00:00:00:20
TABLE=none check "hidden, unlisted" 198.51.100.202        00:00:00:00:00:00
check "route's interface .88"     198.51.100.88             02:00:00:00:00:88
check "route's interface .99"     203.0.113.99              02:00:00:00:00:99
check "trailing space, .88"       '198.51.100.88 '          02:00:00:00:00:88
check "listed off the route's interface" 198.51.100.77      00:00:00:00:00:00

# The route the reply takes, from the address the server names: by a tenant's own table,
# which a rule on the source picks, or by the uplink's; no route, or one through a
# gateway, gives nothing. Where the server names no usable address of its own, the
# connection tells it; without one, no table is the reply's for certain.
net rule add from 198.51.100.253 table 100 && net rule add from 203.0.113.1 table 200 ||
  die "cannot add the source rules"
SERVER=198.51.100.253 check "tenant B's client, B's portal" 198.51.100.20  02:00:00:00:b0:20
SERVER=::ffff:198.51.100.253 check "tenant B's portal, mapped" 198.51.100.20 02:00:00:00:b0:20
SERVER=198.51.100.1   check "tenant A's client, A's portal" 198.51.100.20  02:00:00:00:00:20
SERVER=203.0.113.1    check "the uplink's policy, planted"   192.0.2.99     00:00:00:00:00:00
check                       "no route, planted"              192.0.2.99     00:00:00:00:00:00
SERVER=192.0.2.1      check "from an address not this host's" 198.51.100.20 00:00:00:00:00:00
check                       "source rules, no server address" 198.51.100.20 00:00:00:00:00:00
SERVER=2001:db8::1    check "from an address of another family" 198.51.100.20 00:00:00:00:00:00
SERVER=localhost      check "from no address"                198.51.100.20  00:00:00:00:00:00
SERVER=0.0.0.0        check "from the unspecified address"   198.51.100.20  00:00:00:00:00:00
TABLE=fifo SERVER=203.0.113.1 check "uplink, table never opened" 192.0.2.99 00:00:00:00:00:00
# Over the connection: its own address is the reply's source, whatever the variables say.
b=198.51.100.253 nameless='REMOTE_ADDR=$SOCAT_PEERADDR REMOTE_PORT=$SOCAT_PEERPORT SERVER_PORT=$SOCAT_SOCKPORT'
if connected "the tenants over connections"; then
  FROM=b SERVER=$b                    check "B over B's portal"             198.51.100.20 02:00:00:00:b0:20
  FROM=a SERVER=198.51.100.1          check "A over A's portal"             198.51.100.20 02:00:00:00:00:20
  FROM=b SERVER=$b VARS=busybox       check "B, no SERVER_ADDR nor port"    198.51.100.20 02:00:00:00:b0:20
  FROM=b SERVER=$b VARS=mini_httpd    check "B, the socket on stdin"        198.51.100.20 02:00:00:00:b0:20
  FROM=a SERVER=198.51.100.1 VARS=mini_httpd check "A, the socket on stdin" 198.51.100.20 02:00:00:00:00:20
  FROM=b SERVER=$b VARS="$nameless SERVER_ADDR="          check "B, SERVER_ADDR empty"     198.51.100.20 02:00:00:00:b0:20
  FROM=b SERVER=$b VARS="$nameless SERVER_ADDR=localhost" check "B, SERVER_ADDR a name"    198.51.100.20 02:00:00:00:b0:20
  FROM=b SERVER=$b VARS="$nameless SERVER_ADDR=0.0.0.0"   check "B, SERVER_ADDR unspecified" 198.51.100.20 02:00:00:00:b0:20
  FROM=b SERVER=$b VARS="$nameless SERVER_ADDR='$b 198.51.100.1'" check "B, SERVER_ADDR a list" 198.51.100.20 02:00:00:00:b0:20
  FROM=b SERVER=$b VARS="$nameless SERVER_ADDR=$(printf '%0300d' 0)" check "B, SERVER_ADDR 300 characters" 198.51.100.20 02:00:00:00:b0:20
  FROM=b SERVER=$b VARS='REMOTE_ADDR=$SOCAT_PEERADDR SERVER_ADDR=$SOCAT_SOCKADDR' check "B, no ports" 198.51.100.20 02:00:00:00:b0:20
  # The connection's own address stands over a SERVER_ADDR that names another.
  FROM=b SERVER=$b VARS="$nameless SERVER_ADDR=198.51.100.1" check "B, A's address named" 198.51.100.20 02:00:00:00:b0:20
fi
net rule del from 198.51.100.253 table 100 && net rule del from 203.0.113.1 table 200 ||
  die "cannot remove the source rules"

# A portal per port, a server whose socket carries a mark, a server of its own user:
# rules on the flow, the mark and the owner pick tenant B's table for the reply. Only the
# connection tells them; without it, or without the mark where no privilege reads it,
# nothing is certain.
if connected "the rules on the flow, the mark and the owner"; then
  one=198.51.100.1
  net rule add ipproto tcp sport 8081 table 100 || die "cannot add the port's rule"
  FROM=b SERVER=$one PORT=8081 check "B over the port B's table serves" 198.51.100.20 02:00:00:00:b0:20
  FROM=a SERVER=$one PORT=8080 check "A over A's port"                  198.51.100.20 02:00:00:00:00:20
  FROM=b SERVER=$one PORT=8081 VARS=busybox check "B's port, no SERVER_ADDR" 198.51.100.20 02:00:00:00:b0:20
  SERVER=$one check "a port rule, no connection"                         198.51.100.20 00:00:00:00:00:00
  net rule del ipproto tcp sport 8081 table 100 && net rule add fwmark 7 table 100 ||
    die "cannot add the mark's rule"
  # The program reads no socket's mark: a rule on the mark leaves every reply in doubt.
  FROM=b SERVER=$one PORT=8082 SOCKET=sockopt-listen=1:36:x07000000 check "B over a marked socket" 198.51.100.20 00:00:00:00:00:00
  FROM=a SERVER=$one PORT=8080 check "A over an unmarked one"            198.51.100.20 00:00:00:00:00:00
  FROM=a SERVER=$one PORT=8084 AS=65533 VARS=mini_httpd check "a mark rule, the socket on stdin" 198.51.100.20 00:00:00:00:00:00
  net rule del fwmark 7 table 100 && net rule add uidrange 65534-65534 table 100 ||
    die "cannot add the owner's rule"
  FROM=b SERVER=$one PORT=8083 AS=65534 check "B over a socket of B's user" 198.51.100.20 02:00:00:00:b0:20
  FROM=a SERVER=$one PORT=8084 AS=65533 check "A over another user's"     198.51.100.20 02:00:00:00:00:20
  SERVER=$one check "an owner rule, no connection"                       198.51.100.20 00:00:00:00:00:00
  net rule del uidrange 65534-65534 table 100 || die "cannot remove the owner's rule"
fi
# Of a route's many paths, the reply's flow picks one: its source, and, as the kernel may
# hash them, its protocol and ports, which only the connection names; without it, none is
# certain.
if [ -n "${box:-}" ]; then
  echo "SKIPPED: many paths; the box's busybox ip makes no route of many paths"
else
  SERVER=198.51.100.1 check "many paths, no connection"        "$manypaths"   00:00:00:00:00:00
  check                     "many paths, no source"            "$manypaths"   00:00:00:00:00:00
fi

# Behind a gateway the client is no neighbour: no entry under its address is its own,
# and no table is read. Nor for a list, which names no single client.
check "routed, planted on its link" 203.0.113.200           00:00:00:00:00:00
check "routed, planted elsewhere" 203.0.113.201             00:00:00:00:00:00
TABLE=fifo check "routed, table never opened" 203.0.113.200 00:00:00:00:00:00
TABLE=fifo check "a list, table never opened" '198.51.100.2 198.51.100.20' 00:00:00:00:00:00
check "the gateway itself"        198.51.100.254            02:00:00:00:02:54

# Text that is not one bare address stands for the one IPv4 address in it, which takes
# the bare address's route: behind the gateway it gets nothing, on the link its own entry.
check "bracketed, routed"         '[203.0.113.200]'         00:00:00:00:00:00
check "with a port, routed"       203.0.113.200:8080        00:00:00:00:00:00
check "with a zone, routed"       203.0.113.200%lan0        00:00:00:00:00:00
check "with a prefix, routed"     203.0.113.200/32          00:00:00:00:00:00
check "bracketed, port, routed"   '[203.0.113.200]:80'      00:00:00:00:00:00
check "two joined by ;"           '198.51.100.20;203.0.113.200' 00:00:00:00:00:00
check "bracketed, on the link"    '[198.51.100.20]'         02:00:00:00:00:20
check "with a port, on the link"  198.51.100.20:8080        02:00:00:00:00:20
check "with a zone, on the link"  198.51.100.20%lan0        02:00:00:00:00:20
check "with a prefix, on the link" 198.51.100.20/32         02:00:00:00:00:20
check "bracketed, port, route's interface" '[198.51.100.88]:80' 02:00:00:00:00:88

# An entry the kernel holds no address for gives none, whatever the table still lists.
check "incomplete, once known"    198.51.100.30             00:00:00:00:00:00
check "failed, once known"        198.51.100.31             00:00:00:00:00:00

# The datagrams of the rule dump on this kernel, which the fault cases count past.
rules=1
if [ -z "${box:-}" ] && command -v strace >/dev/null; then
  rules=$(rulereads "$twice") || die "cannot count the rule dump's datagrams"
fi
# A failing neighbour get falls back to the table, still on the route's interface; where
# the rules or the route cannot be learned, no entry is the client's for sure. The rules
# are the first question, the route the second, the neighbour the third.
FAULT=sendto:error=EINTR:when=3       check "neighbour get: EINTR"        "$twice"      "$twicemac"
FAULT=sendto:error=ENOBUFS:when=3     check "neighbour get: ENOBUFS"      "$twice"      "$twicemac"
FAULT=recvfrom:error=EAGAIN:when=$((rules + 2))    check "neighbour get: no answer"    "$twice"      "$twicemac"
FAULT=recvfrom:error=EINTR:when=$((rules + 2))     check "neighbour get: EINTR read"   "$twice"      "$twicemac"
FAULT=recvfrom:error=EAGAIN:when=$((rules + 2))    check "neighbour get: no answer, failed" 198.51.100.31 00:00:00:00:00:00
FAULT=sendto:retval=36:when=3         check "neighbour get lost: no wait" "$twice"      "$twicemac"
FAULT=sendto:error=EINTR:when=2       check "route get fails, routed"     203.0.113.200 00:00:00:00:00:00
FAULT=recvfrom:error=EAGAIN:when=$((rules + 1))    check "route get: no answer"        "$twice"      00:00:00:00:00:00
FAULT=sendto:error=EINTR:when=1       check "rule dump fails"             "$twice"      00:00:00:00:00:00
FAULT=recvfrom:error=EAGAIN:when=1    check "rule dump: no answer"        "$twice"      00:00:00:00:00:00
FAULT=socket:error=EMFILE             check "no socket, routed"           203.0.113.200 00:00:00:00:00:00

# Where netlink is denied (a hardened server), the route comes from /proc/net/route: its
# longest prefix binds the table to its interface, and a gateway gives nothing.
netlinkrefused=socket:error=EAFNOSUPPORT:when=1
FAULT=$netlinkrefused check "no netlink, on the link"            198.51.100.20 02:00:00:00:00:20
FAULT=$netlinkrefused check "no netlink, route's interface .88"  198.51.100.88 02:00:00:00:00:88
FAULT=$netlinkrefused check "no netlink, host route .99"         203.0.113.99  02:00:00:00:00:99
FAULT=$netlinkrefused check "no netlink, host route"             "$twice"      "$twicemac"
FAULT=$netlinkrefused check "no netlink, off the route's interface" 198.51.100.77 00:00:00:00:00:00
FAULT=$netlinkrefused check "no netlink, routed, planted"        203.0.113.200 00:00:00:00:00:00
FAULT=$netlinkrefused check "no netlink, routed, planted elsewhere" 203.0.113.201 00:00:00:00:00:00
FAULT=$netlinkrefused check "no netlink, unlisted"               198.51.100.202 00:00:00:00:00:00

# A busy hotspot: while half of the other 4,000 entries go and come back, the client,
# listed last, is found every time.
churn() {
  local lookups=300 client mac
  . "$testdir/lib/bigtable.sh"
  # A net of its own: one this host holds an address in would make its own address a client.
  read -r client mac _ < <(filltable "$ns" 4000 192.0.2 "$scratch/all")
  [ -n "$client" ] || die "cannot fill the table"
  # Every other entry of the rest goes and comes back.
  grep -v " $client lladdr " "$scratch/all" | awk 'NR % 2' >"$scratch/add"
  sed "$todelete" "$scratch/add" >"$scratch/del"
  timeout 120 bash -c 'while :; do ip -n "$0" -batch "$1"; ip -n "$0" -batch "$2"; done' \
    "$ns" "$scratch/del" "$scratch/add" >/dev/null 2>&1 &
  local churner=$!
  local replies
  replies=$(ip netns exec "$ns" env REMOTE_ADDR="$client" timeout 120 bash -c \
    'for i in $(seq "$0"); do "$@"; echo; done' "$lookups" "${clientmac[@]}" 2>&1)
  kill "$churner" 2>/dev/null
  wait "$churner" 2>/dev/null
  judge "churn: $lookups lookups of $client" lookups "$(echo "$replies" | wc -l)" "$lookups" \
    misses "$(echo "$replies" | grep -cvx "$mac")" 0
}
if [ -n "${box:-}" ]; then
  echo "SKIPPED: churn; the box's busybox ip has no -batch to churn 4,000 entries with"
else
  churn
fi

# Last, for a VRF's rule stays: tenant C's LAN in a VRF, with the same address plan as A's: its portal is 198.51.100.1
# too, its client .20 on vr0, and a twin of A's 802.1Q-tagged in tenant D's VRF. The
# socket's VRF is the reply's domain: only the connection names it, and without one no
# table is the reply's for certain. The kernel needs vrf and 8021q, which this host's may
# lack: the VM of Debian's kernel runs these.
vrfs() {
  net link add vrf-c type vrf table 110 && net link set vrf-c up &&
    net link add vrf-d type vrf table 120 && net link set vrf-d up &&
    veth vr0 vr1 && net link set vr0 master vrf-c && net addr add 198.51.100.1/24 dev vr0 &&
    veth vd0 vd1 && net link add link vd0 name vd0.20 type vlan id 20 &&
    net link set vd0.20 master vrf-d && net addr add 198.51.100.1/24 dev vd0.20 &&
    net link set vd0.20 up && peer c vr1 02:00:00:00:c0:20 198.51.100.20/24 &&
    peer d vd1 02:00:00:00:d0:01 &&
    ip -n "clientmac-d-$$" link add link vd1 name vd1.20 type vlan id 20 &&
    ip -n "clientmac-d-$$" link set vd1.20 address 02:00:00:00:d0:20 &&
    ip -n "clientmac-d-$$" addr add 198.51.100.20/24 dev vd1.20 &&
    ip -n "clientmac-d-$$" link set vd1.20 up
}
if [ -z "$connections" ]; then
  connected "the VRFs"
elif ! net link add clientmac-probe type vrf table 999 2>/dev/null; then
  echo "SKIPPED the VRFs: this kernel has no vrf module (the VM of Debian's kernel runs them)"
else
  net link del clientmac-probe
  vrfs || die "cannot add the VRFs"
  one=198.51.100.1
  FROM=c SERVER=$one SOCKET=so-bindtodevice=vrf-c check "C over C's portal, bound to its VRF" 198.51.100.20 02:00:00:00:c0:20
  FROM=c SERVER=$one SOCKET=so-bindtodevice=vrf-c VARS=busybox check "C, no SERVER_ADDR" 198.51.100.20 02:00:00:00:c0:20
  FROM=c SERVER=$one SOCKET=so-bindtodevice=vrf-c VARS=mini_httpd check "C, the socket on stdin" 198.51.100.20 02:00:00:00:c0:20
  FROM=d SERVER=$one SOCKET=so-bindtodevice=vrf-d check "D over 802.1Q in its VRF" 198.51.100.20 02:00:00:00:d0:20
  FROM=a SERVER=$one check "A over A's portal beside the VRFs"     198.51.100.20 02:00:00:00:00:20
  # A listener in no VRF takes the VRFs' connections when tcp_l3mdev_accept is on: the
  # kernel binds each accepted socket to the VRF it came by.
  inns sysctl -qw net.ipv4.tcp_l3mdev_accept=1 || die "cannot set tcp_l3mdev_accept"
  FROM=c SERVER=0.0.0.0 CONNECT=$one PORT=8090 check "C over a listener of every VRF" 198.51.100.20 02:00:00:00:c0:20
  FROM=a SERVER=0.0.0.0 CONNECT=$one PORT=8090 check "A over a listener of every VRF" 198.51.100.20 02:00:00:00:00:20
  inns sysctl -qw net.ipv4.tcp_l3mdev_accept=0
  SERVER=$one check "VRFs, no connection"                          198.51.100.20 00:00:00:00:00:00
  SERVER=::ffff:$one check "VRFs, mapped, no connection"           198.51.100.20 00:00:00:00:00:00
  check "VRFs, no server address"                                  198.51.100.20 00:00:00:00:00:00
fi

finish
