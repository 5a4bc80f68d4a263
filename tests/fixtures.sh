#!/bin/bash
# Runs clientmac against fixture tables: each case gets a private user+mount namespace
# whose /proc is a fresh tmpfs holding the case's table (TABLE=, a file of fixtures/ or
# as fixturecase.sh takes it) at /proc/net/arp and its route table (ROUTE=) at
# /proc/net/route, an empty network namespace, and netlink denied, so that the route and
# the neighbour come from those files alone. The router in a box runs these cases too, on
# its own kernel.

# In the router in a box, the guest has sourced its own runner first.
[ -n "${box:-}" ] || . "$(dirname "$0")/lib/host.sh"

unshare -rmn true 2>/dev/null || skip "unprivileged user+mount+network namespaces are not available"
# A builder's chroot (sbuild's unshare mode) may give a namespace in which /proc cannot
# be covered: each case needs a tmpfs on it.
unshare -rmn sh -c 'mount -t tmpfs none /proc' 2>/dev/null ||
  skip "no tmpfs can be mounted on /proc in a user namespace here"
# The cases run as a hardened server runs the program, with netlink denied: the route
# comes from the fixture's /proc/net/route (ROUTE=), and the neighbour from its ARP table.
if [ -z "${box:-}" ]; then
  c++ -O -o "$scratch/nonetlink" "$testdir/nonetlink.cpp" 2>"$scratch/err" ||
    skip "cannot build the helper that denies netlink: $(cat "$scratch/err")"
  nonetlink=$scratch/nonetlink
fi

. "$testdir/lib/longtables.sh"
write_long_tables "$scratch"

# The rules on the client text and on the table's lines are unit.cpp's, a case a line:
# here each has one case, or a few where the path through the program differs, end to
# end: the text from REMOTE_ADDR, the route from /proc/net/route, the table read from
# /proc/net/arp by the program's own buffer, the reply and the status.

# A client's own entry is found, in every form servers put in REMOTE_ADDR: as written, in
# its mapped form, or as the one address in the text (mappedcases, wholecases).
TABLE=basic.arp check "exact address"               192.168.1.20              00:11:22:33:44:55 0
TABLE=basic.arp check "IPv4-mapped address"         ::ffff:192.168.1.20       00:11:22:33:44:55 0
TABLE=basic.arp check "address with a port"         10.0.0.1:8080             02:00:00:00:00:01 0

# The README's quick start, by its own awk program, asks for the entry the table lists
# first, and gets its address; the box has no README to read it from.
if [ -f "$testdir/../README.md" ]; then
  quick=$(sed -n "s|.*REMOTE_ADDR=\$(awk '\([^']*\)' /proc/net/arp) \./build/clientmac.*|\1|p" \
    "$testdir/../README.md")
  TABLE=basic.arp check "README's quick start" "$(awk "$quick" "$testdir/fixtures/basic.arp")" \
    02:00:00:00:00:01 0
else
  echo "SKIPPED README's quick start: no README beside the tests"
fi

# An address that is only a piece of the client's never matches (tablecases).
TABLE=basic.arp check "prefix neighbour first"      10.0.0.12                 02:00:00:00:00:12 0

# Text that holds no address, or more than one, names no client, whatever the table lists
# (wholecases).
TABLE=fields.arp check "31-character address"        198.51.100.61000000000000000001  $zero 0

# Only an entry on the route's interface is the client's, its address replied as listed.
TABLE=basic.arp check "on the route's interface of two" 203.0.113.9           02:00:00:00:99:99 0

# A route that cannot be learned is a doubt: through a gateway, by another interface, or
# with no route table at all, no entry is the client's.
ROUTE=gateway.route TABLE=basic.arp check "route through a gateway, from /proc" 192.168.1.20 $zero 0
ROUTE=wan.route     TABLE=basic.arp check "route by another interface" 192.168.1.20 $zero 0
ROUTE=none          TABLE=basic.arp check "no route table"       192.168.1.20 $zero 0
ROUTE=header.arp    TABLE=basic.arp check "no route in the table" 192.168.1.20 $zero 0

# Whitespace separates fields, however much and of whatever kind (tablecases); fields
# after the device are passed over.
TABLE=spacing.arp check "tabs and leading blanks"     198.51.100.40           02:00:00:00:00:40 0

# A line with fewer fields than an entry's is none (tablecases).
TABLE=short.arp check "later whole entry"           198.51.100.51             02:00:00:00:00:51 0

# A reply is only a hardware address (hex pairs joined by colons, at most 31 characters,
# never cut short), from an entry whose flags have the complete bit (0x2): the kernel
# lists a gone client's old address too (tablecases).
TABLE=fields.arp check "29-character hw address"     198.51.100.63            02:00:00:00:00:63:00:00:00:63 0
TABLE=fields.arp check "dashes, not colons"          198.51.100.66            $zero 0
TABLE=fields.arp check "flags 0x4, not complete"     198.51.100.9             $zero 0

# Whitespace around the client is set aside; a list names no single client (trimcases).
TABLE=basic.arp check "trailing space"              '192.168.1.20 '           00:11:22:33:44:55 0
TABLE=basic.arp check "addresses joined by a comma" '192.168.1.20,10.0.0.1'   $zero 0

# The rest of an over-long line belongs to it and is never an entry of its own: the
# tables that longtables.sh makes, read as the kernel's is, from the file through the
# program's own buffer.
TABLE=longtail.arp check "head of a long line, from /proc"        198.51.100.70 02:00:00:00:00:70 0
TABLE=longtail.arp check "tail of a long line, from /proc"        198.51.100.71 02:00:00:00:00:71 0
TABLE=straddle.arp check "hw address past the read, from /proc"   198.51.100.72 02:00:00:00:00:72 0
TABLE=straddle.arp check "hw address up to the read, from /proc"  198.51.100.73 02:00:00:00:00:73 0
TABLE=exact255.arp check "255 characters and newline, from /proc" 198.51.100.74 02:00:00:00:00:74 0
TABLE=exact255.arp check "line after 255 characters, from /proc"  198.51.100.75 02:00:00:00:00:75 0
TABLE=exact255.arp check "255 characters at the end, from /proc"  198.51.100.76 02:00:00:00:00:76 0

# A client text longer than any address is the zero address, the table never read.
TABLE=basic.arp check "255-character client"        "$(printf '%-255s' 192.168.1.20)" 00:11:22:33:44:55 0
TABLE=basic.arp check "256-character client"        "$(printf '%-256s' 192.168.1.20)" $zero 0

# No table, or nothing in it, is the zero address with status 0.
TABLE=basic.arp check "empty client"                ''                        $zero 0
TABLE=empty.arp check "empty table"                 198.51.100.1              $zero 0
TABLE=none check "no table"                    198.51.100.1                   $zero 0
TABLE=dir check "table is a directory"        198.51.100.1                    $zero 0

# A missing REMOTE_ADDR is the zero address with status 255, the table never opened.
TABLE=basic.arp check "no client"                   -                         $zero 255
TABLE=fifo check "no client, table a FIFO"     -                              $zero 255

# Arguments change nothing.
TABLE=basic.arp check "arguments ignored"           192.168.1.20              00:11:22:33:44:55 0 -h --version ''
TABLE=basic.arp check "arguments, no client"        -                         $zero 255 192.168.1.20

# Called by a name that ends in .cgi, it writes the CGI header, then the same reply with
# the same status; under its own name, or any other, the reply stays bare.
CALLED=x.cgi         TABLE=basic.arp check "called x.cgi"                192.168.1.20 "${cgi}00:11:22:33:44:55" 0
CALLED=clientmac.cgi TABLE=basic.arp check "called clientmac.cgi"        10.0.0.1     "${cgi}02:00:00:00:00:01" 0
CALLED=x.cgi         TABLE=basic.arp check "called x.cgi, no entry"      10.0.0.123   "$cgi$zero" 0
CALLED=x.cgi         TABLE=basic.arp check "called x.cgi, no client"     -            "$cgi$zero" 255
CALLED=x.cgi         TABLE=basic.arp check "called x.cgi, arguments"     192.168.1.20 "${cgi}00:11:22:33:44:55" 0 -h ''
CALLED=clientmac     TABLE=basic.arp check "called clientmac"            192.168.1.20 00:11:22:33:44:55 0
CALLED=clientmac     TABLE=basic.arp check "called clientmac, no client" -            $zero 255
CALLED=x.CGI         TABLE=basic.arp check "called x.CGI"                192.168.1.20 00:11:22:33:44:55 0
CALLED=x.cgi.old     TABLE=basic.arp check "called x.cgi.old"            192.168.1.20 00:11:22:33:44:55 0

# A reply that cannot be written changes neither the status nor standard error.
STDOUT=closed TABLE=basic.arp check "stdout closed"            192.168.1.20   "" 0
STDOUT=closed TABLE=basic.arp check "stdout closed, no client" -              "" 255
STDOUT=full   TABLE=basic.arp check "stdout on /dev/full"      192.168.1.20   "" 0
STDOUT=full   TABLE=basic.arp check "/dev/full, no client"     -              "" 255
STDOUT=pipe   TABLE=basic.arp check "pipe with no reader"      192.168.1.20   "" 0
STDOUT=pipe   TABLE=basic.arp check "no reader, no client"     -              "" 255
CALLED=x.cgi STDOUT=closed TABLE=basic.arp check "stdout closed, called x.cgi" 192.168.1.20 "" 0
CALLED=x.cgi STDOUT=pipe   TABLE=basic.arp check "no reader, called x.cgi"     -            "" 255

finish
