#!/bin/bash
# Runs clientmac for IPv6 clients against the real kernel neighbour table of a network
# namespace of its own: entries in every state, one link-local address on two
# interfaces, prefix neighbours of the clients, entries planted for clients behind a
# source-specific route or on another link, and enough entries for a dump of many
# datagrams.

# In the router in a box, the guest has sourced its own runner first.
[ -n "${box:-}" ] || . "$(dirname "$0")/lib/host.sh"
require_netns
require_kernel

make_netns ndp
# The LAN's prefixes, with this host's own link-local address on it too, and routes by
# wan0; a remote client is reached only by a default route from the LAN's prefix, as
# OpenWrt routes a delegated prefix (the box's busybox ip makes no such route: it has none).
net addr add 2001:db8:1::1/64 dev lan0 nodad && net addr add fe80::1/64 dev lan0 nodad &&
  net addr add 198.51.100.1/24 dev lan0 || die "cannot address lan0"
net route add 2001:db8:5::/64 dev wan0 && net route add 2001:db8:2::/64 dev wan0 ||
  die "cannot add the routes via wan0"
[ -n "${box:-}" ] || net route add default from 2001:db8:1::/64 via 2001:db8:1::fe dev lan0 ||
  die "cannot add the source-specific default route"
# Clients behind a gateway on the LAN; the link-local client ::22 is reached by wan0.
net route add 2001:db8:7::/64 via 2001:db8:1::fe dev lan0 &&
  net route add fe80::22/128 dev wan0 || die "cannot add the routes"
# An interface named by the number that is lan0's index.
lanindex=$(inns cat /sys/class/net/lan0/ifindex)
veth "$lanindex" digits1 ||
  die "cannot add the interface named $lanindex"

neighbours <<TABLE || die "cannot add the neighbours"
2001:db8:1::2     lan0 permanent 02:00:00:00:00:02
2001:db8:1::22    lan0 permanent 02:00:00:00:00:22
2001:db8:1::222   lan0 permanent 02:00:00:00:02:22
2001:db8:1::2:22  lan0 permanent 02:00:00:00:22:22
2001:db8:1::33    lan0 stale     02:00:00:00:00:33
2001:db8:1::44    lan0 incomplete
2001:db8:1::55    lan0 failed    02:00:00:00:00:55
fe80::22          lan0 permanent 02:00:00:00:fe:01
fe80::22          wan0 permanent 02:00:00:00:fe:02
198.51.100.22     lan0 permanent 02:00:00:00:04:22
2001:db8:1::66    lan0 noarp     02:00:00:00:00:66
2001:db8:5::22    lan0 permanent 02:00:00:00:05:01
2001:db8:5::22    wan0 permanent 02:00:00:00:05:02
2001:db8:5::30    lan0 permanent 02:00:00:00:53:00
2001:db8:5::30    wan0 permanent 02:00:00:00:05:30
fe80::99          lan0 permanent 02:00:00:00:fe:99
fe80::99          $lanindex   permanent 02:00:00:00:fe:09
2001:db8:1::fe    lan0 permanent 02:00:00:00:00:fe
2001:db8:7::22    lan0 permanent 02:aa:00:00:07:22
# Link-local clients on one link, or with one address on both.
fe80::a1          lan0 permanent 02:00:00:00:a1:01
fe80::a2          wan0 permanent 02:00:00:00:a2:02
fe80::a3          lan0 permanent 02:00:00:00:a3:03
fe80::a3          wan0 permanent 02:00:00:00:a3:03
fe80::a4          wan0 incomplete
# Planted by LAN hosts: under a remote client's address, under a link-local address that
# another link lists without an address (a link without ARP, or an unanswered one), and
# under this host's own.
2001:db8:99::5    lan0 permanent 02:aa:00:00:99:05
fe80::a5          wan0 noarp     02:00:00:00:a5:05
fe80::a5          lan0 permanent 02:aa:00:00:a5:01
fe80::a6          wan0 incomplete
fe80::a6          lan0 permanent 02:aa:00:00:a6:01
fe80::1           wan0 permanent 02:aa:00:00:fe:01
TABLE
twice=2001:db8:5::30
# Hundreds of entries make the kernel answer in many datagrams.
for i in $(seq 1 600); do
  printf '2001:db8:2::%x wan0 permanent 02:00:00:01:%02x:%02x\n' "$i" $((i / 256)) $((i % 256))
done | entries || die "cannot add the bulk entries"
# For the fault cases, a client on both interfaces, routed by the one the dump lists
# second, so that a dump that forgot the route would give the entry listed first.
second=$(inns ip -6 neigh show to "$twice" | awk 'NR == 2 { print $3, $5 }')
twicedev=${second% *} twicemac=${second#* }
net route add "$twice/128" dev "$twicedev" || die "cannot route to $twice"
lastlisted=$(inns ip -6 neigh show dev wan0 | grep '^2001:db8:2::' | tail -n 1)
lastaddress=${lastlisted%% *}
lastmac=$(echo "$lastlisted" | sed 's/.*lladdr \([^ ]*\).*/\1/')

wanindex=$(inns cat /sys/class/net/wan0/ifindex)

# Cases run by cases.sh's check.

# Every textual form of an address finds its entry.
check "compressed"                 2001:db8:1::22                          02:00:00:00:00:22
check "expanded"                   2001:0db8:0001:0000:0000:0000:0000:0022 02:00:00:00:00:22
check "upper case"                 2001:DB8:1::22                          02:00:00:00:00:22
check "bracketed"                  '[2001:db8:1::22]'                      02:00:00:00:00:22
check "embedded IPv4 notation"     2001:db8:1::0.0.0.34                    02:00:00:00:00:22

# Prefix neighbours are other addresses: each client gets its own entry.
check "prefix neighbour ::2"       2001:db8:1::2                           02:00:00:00:00:02
check "longer ::222"               2001:db8:1::222                         02:00:00:00:02:22
check "longer ::2:22"              2001:db8:1::2:22                        02:00:00:00:22:22
check "unlisted ::2222"            2001:db8:1::2222                        00:00:00:00:00:00

# Only entries with a link-layer address count.
check "stale entry"                2001:db8:1::33                          02:00:00:00:00:33
check "incomplete entry"           2001:db8:1::44                          00:00:00:00:00:00
check "failed entry"               2001:db8:1::55                          00:00:00:00:00:00
# On a link without ARP every entry carries this host's own address, never the client's.
check "NOARP entry"                2001:db8:1::66                          00:00:00:00:00:00

# Listed on two interfaces, the client is the one on the interface its route leaves by,
# also when the neighbour get fails and the dump is read instead.
check "route's interface"          2001:db8:5::22                          02:00:00:00:05:02
# The datagrams of the rule dump on this kernel, which the fault cases count past.
rules=1
if [ -z "${box:-}" ] && command -v strace >/dev/null; then
  rules=$(rulereads "$twice") || die "cannot count the rule dump's datagrams"
fi
# The rules are the first question, the route the second, the neighbour the third.
FAULT=sendto:error=EINTR:when=3    check "neighbour get: EINTR"    "$twice"       "$twicemac"
FAULT=recvfrom:error=EAGAIN:when=$((rules + 2)) check "neighbour get: no answer" "$twice"      "$twicemac"
FAULT=sendto:retval=48:when=3      check "neighbour get lost: no wait" "$twice"   "$twicemac"
FAULT=recvfrom:error=EAGAIN:when=$((rules + 1)) check "route get: no answer"    "$twice"       00:00:00:00:00:00
FAULT=recvfrom:error=EAGAIN:when=1 check "rule dump: no answer"    "$twice"       00:00:00:00:00:00
FAULT=recvfrom:error=EAGAIN:when=$((rules + 2)) check "no zone, dump cut short"  fe80::a1      00:00:00:00:00:00
FAULT=recvfrom:error=EAGAIN:when=$((rules + 1)) check "no zone, route unanswered" fe80::a1     00:00:00:00:00:00
FAULT=socket:error=EAFNOSUPPORT:when=1 check "no netlink"          2001:db8:1::22 00:00:00:00:00:00

# Behind a gateway the client is no neighbour: no entry under its address is its own.
# Nor where no route is known: a remote client that only the server's own address routes.
check "routed, planted on its link" 2001:db8:7::22                         00:00:00:00:00:00
SERVER=2001:db8:1::1 check "source-specific default, planted" 2001:db8:99::5 00:00:00:00:00:00
check                      "no route, planted"           2001:db8:99::5     00:00:00:00:00:00
SERVER=2001:db8:1::1 check "from the server's address"  2001:db8:1::22     02:00:00:00:00:22
SERVER='[2001:db8:1::1]' check "from the server's, bracketed" 2001:db8:5::22 02:00:00:00:05:02
check "the gateway itself"         2001:db8:1::fe                          02:00:00:00:00:fe
# A zone names the route's interface, and stands in for no route: behind a gateway, or
# off the route's interface, the client gets nothing.
check "zone, routed"               2001:db8:7::22%lan0                     00:00:00:00:00:00
check "zone, bracketed, routed"    '[2001:db8:7::22%lan0]'                 00:00:00:00:00:00
check "zone, the route's link"     2001:db8:1::22%lan0                     02:00:00:00:00:22
check "zone off the route's link"  2001:db8:5::22%lan0                     00:00:00:00:00:00

# A zone, by name or by number, picks the interface; an unknown zone finds nothing. A
# zone is a name first, as servers write it, and a number only when no name fits.
check "zone by name lan0"          fe80::22%lan0                           02:00:00:00:fe:01
check "zone by name wan0"          fe80::22%wan0                           02:00:00:00:fe:02
check "zone by number"             "fe80::22%$wanindex"                    02:00:00:00:fe:02
check "bracketed with zone"        '[fe80::22%lan0]'                       02:00:00:00:fe:01
check "zone without the entry"     2001:db8:1::22%wan0                     00:00:00:00:00:00
check "unknown zone name"          fe80::22%nosuch0                        00:00:00:00:00:00
check "unknown zone number"        fe80::22%99999                          00:00:00:00:00:00
check "zone named by digits"       "fe80::99%$lanindex"                    02:00:00:00:fe:09
check "empty zone"                 fe80::22%                               00:00:00:00:00:00

# A link-local client without a zone (as nginx and uhttpd hand it over) is on whichever
# link lists it, whatever link the route names; two addresses on two links name no one.
check "no zone, listed on lan0"    fe80::a1                                02:00:00:00:a1:01
check "no zone, listed on wan0"    fe80::a2                                02:00:00:00:a2:02
check "no zone, one address twice" fe80::a3                                02:00:00:00:a3:03
check "no zone, two addresses"     fe80::22                                00:00:00:00:00:00
check "no zone, no address"        fe80::a4                                00:00:00:00:00:00
check "no zone, unlisted"          fe80::a9                                00:00:00:00:00:00
# Not permanent, the NOARP and incomplete entries may be collected once the table holds
# more than gc_thresh2 (the 600 do) and they are older than 5 s, as in a slow guest: they
# are made anew for their rows.
if [ -z "${box:-}" ]; then
  net neigh del fe80::a5 dev wan0 2>/dev/null
  net neigh del fe80::a6 dev wan0 2>/dev/null
  entry fe80::a5 wan0 noarp 02:00:00:00:a5:05 && entry fe80::a6 wan0 incomplete ||
    die "cannot make the NOARP and incomplete entries anew"
fi
# Every link that lists it must give one address: a link that lists it with none (NOARP,
# incomplete) disagrees with a twin planted on another. This host's own is no client.
check "no zone, NOARP and a twin"  fe80::a5                                00:00:00:00:00:00
check "no zone, incomplete and a twin" fe80::a6                            00:00:00:00:00:00
check "no zone, this host's own"   fe80::1                                 00:00:00:00:00:00
SERVER=fe80::1 check "no zone, from the server's" fe80::a3                 02:00:00:00:a3:03
SERVER=fe80::1 check "no zone, NOARP and a twin, from the server's" fe80::a5 00:00:00:00:00:00
SERVER=fe80::1 check "no zone, this host's own, from it" fe80::1           00:00:00:00:00:00

# The entry the kernel lists last, by the neighbour get and deep in a dump of many
# datagrams.
check "listed last of 600"         "$lastaddress"                          "$lastmac"
FAULT=sendto:error=EINTR:when=3 check "listed last of 600, in the dump" "$lastaddress" "$lastmac"

# A tenant's table, picked by a rule on the source, routes 2001:db8:5::/64 by lan0, where
# a twin of wan0's client is planted. An IPv6 source the kernel takes without asking
# whether this host holds it, so only the connection vouches for the server's address:
# without one, no source is certain, and an address not this host's never picks a table.
net -6 route add 2001:db8:5::/64 dev lan0 table 100 && net -6 rule add from 2001:db8:1::99 table 100 ||
  die "cannot add the tenant's rule"
SERVER=2001:db8:1::99 check "source rule, from an address not this host's" 2001:db8:5::22 00:00:00:00:00:00
SERVER=2001:db8:1::1  check "source rule, from this host's, no connection" 2001:db8:5::22 00:00:00:00:00:00
check                       "source rule, no server address"       2001:db8:5::22 00:00:00:00:00:00
# Over a connection from ::22, a host of its own behind lan0, the connection's address is
# the source, whatever the variables say.
if [ -n "${box:-}" ] || ! command -v socat >/dev/null; then
  echo "SKIPPED the connections: $([ -n "${box:-}" ] && echo "the box has no namespaces nor socat" || echo "socat is not installed")"
else
  peer a lan1 02:00:00:00:00:22 2001:db8:1::22/64 || die "cannot add the client"
  FROM=a SERVER=2001:db8:1::1 check "over a connection"            2001:db8:1::22 02:00:00:00:00:22
  FROM=a SERVER=2001:db8:1::1 VARS=busybox check "no SERVER_ADDR, a connection" 2001:db8:1::22 02:00:00:00:00:22
  FROM=a SERVER=2001:db8:1::1 VARS=mini_httpd check "the socket on stdin" 2001:db8:1::22 02:00:00:00:00:22
  FROM=a SERVER=2001:db8:1::1 VARS='REMOTE_ADDR=$SOCAT_PEERADDR REMOTE_PORT=$SOCAT_PEERPORT SERVER_ADDR=2001:db8:1::99' \
    check "the connection's address over the variable's" 2001:db8:1::22 02:00:00:00:00:22
  # Written with a port, the IPv6 client is itself, never the IPv4 client its last 32
  # bits spell (198.51.100.22 is listed too).
  FROM=a SERVER=2001:db8:1::1 VARS='REMOTE_ADDR=[2001:db8:1::c633:6416]:80 REMOTE_PORT=$SOCAT_PEERPORT' \
    check "dotted tail with a port" 2001:db8:1::22 00:00:00:00:00:00
fi
net -6 rule del from 2001:db8:1::99 table 100 || die "cannot remove the tenant's rule"
check "dotted tail, with a port"    '[2001:db8:1::198.51.100.22]:80'     00:00:00:00:00:00
check "an IPv6 client with a port names no one" '[2001:db8:1::0.0.0.34]:80'   00:00:00:00:00:00

# IPv4 clients, mapped or not, still come from the ARP table.
check "IPv4 client"      198.51.100.22                           02:00:00:00:04:22
check "IPv4-mapped"      '[::ffff:198.51.100.22]'                02:00:00:00:04:22

finish
