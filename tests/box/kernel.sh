# The guest's kernel-table cases, sourced by the box's /init: a real MIPS kernel's ARP
# and IPv6 neighbour tables, filled through rtnetlink by the neighbour helper.

# neighbour ADDRESS LLADDR|- DEVICE STATE
neighbour 198.51.100.2      02:00:00:00:00:02 dummy0 permanent
neighbour 198.51.100.20     02:00:00:00:00:20 dummy0 permanent
neighbour 198.51.100.200    02:00:00:00:02:00 dummy0 permanent
neighbour 198.51.100.25     02:00:00:71:13:25 dummy1 permanent
neighbour 203.0.113.200     02:aa:00:00:02:00 dummy0 permanent
neighbour 2001:db8:1::2     02:00:00:00:60:02 dummy0 permanent
neighbour 2001:db8:1::22    02:00:00:00:60:22 dummy0 permanent
neighbour 2001:db8:1::33    02:00:00:00:60:33 dummy0 stale
neighbour 2001:db8:1::44    -                 dummy0 incomplete
neighbour 2001:db8:1::55    -                 dummy0 failed
neighbour fe80::22          02:00:00:00:fe:01 dummy0 permanent
neighbour fe80::22          02:00:00:00:fe:02 dummy1 permanent
neighbour fe80::a2          02:00:00:00:a2:02 dummy1 permanent
dummy1index=$(cat /sys/class/net/dummy1/ifindex)
# Routes to the clients through dummy0, so that the kernel's own lookup answers for them.
ip addr add 198.51.100.1/24 dev dummy0
ip addr add 2001:db8:1::1/64 dev dummy0
# A client behind a gateway, and the link-local client reached by dummy1.
ip route add 203.0.113.128/25 via 198.51.100.254 dev dummy0
ip -6 route add fe80::22/128 dev dummy1

# IPv4: each client its own entry, prefix neighbours never.
checkkernel "IPv4 .2"                 198.51.100.2              02:00:00:00:00:02
checkkernel "IPv4 .20"                198.51.100.20             02:00:00:00:00:20
checkkernel "IPv4 .200"               198.51.100.200            02:00:00:00:02:00
# Listed on dummy1 while its route leaves by dummy0: another machine.
checkkernel "IPv4 off the route's link" 198.51.100.25           $zero
# Behind a gateway the client is no neighbour, whatever is planted under its address.
checkkernel "IPv4 routed, planted"    203.0.113.200             $zero
checkkernel "IPv4 routed, with a port" '[203.0.113.200]:80'     $zero
checkkernel "IPv4 mapped, bracketed"  '[::ffff:198.51.100.20]'  02:00:00:00:00:20
checkkernel "IPv4 unlisted .202"      198.51.100.202            $zero
# The kernel's own lookup answers with the ARP table out of sight.
HIDE=1 checkkernel "IPv4, table hidden" 198.51.100.20           02:00:00:00:00:20

# IPv6: every form, prefix neighbours, only entries with a link-layer address.
checkkernel "IPv6 compressed"         2001:db8:1::22            02:00:00:00:60:22
checkkernel "IPv6 expanded"           2001:0db8:0001:0000:0000:0000:0000:0022 02:00:00:00:60:22
checkkernel "IPv6 upper case"         2001:DB8:1::22            02:00:00:00:60:22
checkkernel "IPv6 bracketed"          '[2001:db8:1::22]'        02:00:00:00:60:22
checkkernel "IPv6 prefix ::2"         2001:db8:1::2             02:00:00:00:60:02
checkkernel "IPv6 unlisted ::222"     2001:db8:1::222           $zero
checkkernel "IPv6 stale"              2001:db8:1::33            02:00:00:00:60:33
checkkernel "IPv6 incomplete"         2001:db8:1::44            $zero
checkkernel "IPv6 failed"             2001:db8:1::55            $zero

# IPv6 zones pick the interface, by name or number.
checkkernel "zone dummy0"             fe80::22%dummy0           02:00:00:00:fe:01
checkkernel "zone dummy1"             fe80::22%dummy1           02:00:00:00:fe:02
checkkernel "zone by number"          "fe80::22%$dummy1index"   02:00:00:00:fe:02
checkkernel "bracketed with zone"     '[fe80::22%dummy0]'       02:00:00:00:fe:01
checkkernel "unknown zone"            fe80::22%nosuch0          $zero
# Without a zone, a link-local client is on whichever link lists it; two addresses on two
# links name no one.
checkkernel "no zone, one link"       fe80::a2                  02:00:00:00:a2:02
checkkernel "no zone, two addresses"  fe80::22                  $zero
