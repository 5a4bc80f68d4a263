#!/bin/bash
# Runs clientmac against fixture tables: each case gets a private user+mount namespace
# whose /proc is a fresh tmpfs holding the case's table at /proc/net/arp, and an empty
# network namespace, so that the kernel knows no neighbour to answer before the table.

. "$(dirname "$0")/lib.sh"

unshare -rmn true 2>/dev/null || skip "unprivileged user+mount+network namespaces are not available"
# A builder's chroot (sbuild's unshare mode) may give a namespace in which /proc cannot
# be covered: each case needs a tmpfs on it.
unshare -rmn sh -c 'mount -t tmpfs none /proc' 2>/dev/null ||
  skip "no tmpfs can be mounted on /proc in a user namespace here"

mkdir "$scratch/proc"
. "$testdir/longtables.sh"
write_long_tables "$scratch"

# check NAME TABLE CLIENT WANTOUT WANTSTATUS [ARGS...]: TABLE as fixturecase.sh takes it,
# a fixture file named without its directory; CLIENT "-" leaves REMOTE_ADDR unset.
# STDOUT=closed, full or pipe before check runs the case so (see fixturecase.sh); then
# nothing can be read back and WANTOUT is ignored.
check() {
  local name=$1 table=$2 client=$3 wantout=$4 wantstatus=$5
  shift 5
  local path=$table
  [ -f "$testdir/fixtures/$table" ] && path=$testdir/fixtures/$table
  [ -f "$scratch/$table" ] && path=$scratch/$table
  local setclient=(env -u REMOTE_ADDR)
  [ "$client" != - ] && setclient=(env "REMOTE_ADDR=$client")
  local mode=${STDOUT:-file}
  timeout 30 unshare -rmn sh "$testdir/fixturecase.sh" "$path" "$mode" "$scratch/out" "$scratch/proc" \
    "${setclient[@]}" "${clientmac[@]}" "$@" 2>"$scratch/err"
  local status=$?
  local out=""
  if [ "$mode" = file ]; then
    out=$(cat "$scratch/out")
  else
    wantout=""
  fi
  judge "$name" output "$out" "$wantout" status "$status" "$wantstatus" \
    stderr "$(cat "$scratch/err")" ""
  rm -f "$scratch/out" "$scratch/out.fifo"
}

zero=00:00:00:00:00:00

# A client's own entry is found, in every form servers put in REMOTE_ADDR.
check "exact address"               basic.arp 192.168.1.20              00:11:22:33:44:55 0
check "IPv4-mapped address"         basic.arp ::ffff:192.168.1.20       00:11:22:33:44:55 0
check "bracketed mapped address"    basic.arp '[::ffff:192.168.1.20]'   00:11:22:33:44:55 0
check "upper-case mapped address"   basic.arp ::FFFF:10.0.0.1           02:00:00:00:00:01 0
check "address with a port"         basic.arp 10.0.0.1:8080             02:00:00:00:00:01 0
check "bracketed with a port"       basic.arp '[10.0.0.1]:80'           02:00:00:00:00:01 0
check "mapped, with a port"         basic.arp '[::ffff:10.0.0.1]:80'    02:00:00:00:00:01 0
check "address with a zone"         basic.arp 10.0.0.1%eth0             02:00:00:00:00:01 0
check "address with a prefix"       basic.arp 10.0.0.1/32               02:00:00:00:00:01 0
check "mapped address in hex"       basic.arp ::ffff:c0a8:114           00:11:22:33:44:55 0
check "bracketed, in hex"           basic.arp '[::ffff:c0a8:114]'       00:11:22:33:44:55 0
check "mapped prefix neighbour hex" basic.arp ::ffff:a00:c              02:00:00:00:00:12 0

# An address that is only a piece of the client's never matches.
check "prefix neighbour first"      basic.arp 10.0.0.12                 02:00:00:00:00:12 0
check "prefix of a mapped client"   basic.arp ::ffff:10.0.0.12          02:00:00:00:00:12 0
check "prefix neighbour 192.168"    basic.arp 192.168.1.2               02:00:00:00:01:02 0
check "longer client, no entry"     basic.arp 10.0.0.123                $zero 0
check "suffix neighbour"            basic.arp 110.0.0.1                 $zero 0
check "letter before the address"   basic.arp a10.0.0.1                 $zero 0
check "dot after the address"       basic.arp 10.0.0.1.5                $zero 0

# Text that holds no address, or more than one, names no client, whatever the table lists.
check "31-character address"        fields.arp 198.51.100.61000000000000000001  $zero 0
check "32-character address"        fields.arp 198.51.100.620000000000000000002 $zero 0
check "addresses joined by ;"       basic.arp '10.0.0.1;192.168.1.20'   $zero 0
check "address and a port of two"   basic.arp '10.0.0.1:192.168.1.20'   $zero 0
check "no address at all"           basic.arp 'br-lan'                  $zero 0

# The first line that matches wins, whatever its flags, its address replied as listed.
check "first of two entries"        basic.arp 203.0.113.9               02:00:00:00:71:09 0
check "incomplete entry"            basic.arp 198.51.100.7              $zero 0
check "title line is no entry"      basic.arp IP                        $zero 0

# Whitespace separates fields, however much and of whatever kind.
check "tabs and leading blanks"     spacing.arp 198.51.100.40           02:00:00:00:00:40 0
check "CRLF line end"               spacing.arp 198.51.100.41           02:00:00:00:00:41 0
check "no final newline"            nonewline.arp 198.51.100.30         02:00:00:00:00:30 0

# A line with fewer than four fields is not an entry.
check "three fields"                short.arp 198.51.100.50             $zero 0
check "later whole entry"           short.arp 198.51.100.51             02:00:00:00:00:51 0
check "two fields"                  short.arp 198.51.100.52             $zero 0

# A field too long for its buffer makes its line no entry; the reply is never cut short.
check "29-character hw address"     fields.arp 198.51.100.63            02:00:00:00:00:63:00:00:00:63 0
check "32-character hw address"     fields.arp 198.51.100.64            $zero 0
check "long type and flags"         fields.arp 198.51.100.65            02:00:00:00:00:65 0

# A reply is only a hardware address (hex pairs joined by colons), from an entry whose
# flags have the complete bit (0x2): the kernel lists a gone client's old address too.
check "dashes, not colons"          fields.arp 198.51.100.66            $zero 0
check "three digits in a byte"      fields.arp 198.51.100.67            $zero 0
check "not a hex digit"             fields.arp 198.51.100.68            $zero 0
check "flags not in hex"            fields.arp 198.51.100.69            $zero 0
check "flags 0x0, incomplete"       fields.arp 198.51.100.8             $zero 0
check "flags 0x4, not complete"     fields.arp 198.51.100.9             $zero 0
check "flags 0xc, not complete"     fields.arp 198.51.100.10            $zero 0
check "flags 0x6, permanent"        fields.arp 198.51.100.11            02:00:00:00:00:11 0
check "flags 0xA, upper case"       fields.arp 198.51.100.12            02:00:00:00:00:12 0

# Whitespace around the client is set aside; a list names no single client.
check "trailing space"              basic.arp '192.168.1.20 '           00:11:22:33:44:55 0
check "tab and newline around"      basic.arp $'\t192.168.1.20\n'     00:11:22:33:44:55 0
check "words after a newline"       basic.arp $'192.168.1.20\nx'       $zero 0
check "two addresses"               basic.arp '10.0.0.1 192.168.1.20'   $zero 0
check "forwarded-for list"          basic.arp '192.168.1.20, 10.0.0.1'  $zero 0
check "addresses joined by a comma" basic.arp '192.168.1.20,10.0.0.1'   $zero 0
check "blanks only"                 basic.arp '   '                     $zero 0

# The rest of an over-long line belongs to it and is never an entry of its own.
check "head of a long line"         longtail.arp 198.51.100.70          02:00:00:00:00:70 0
check "tail of a long line"         longtail.arp 198.51.100.71          02:00:00:00:00:71 0
check "hw address past the read"    straddle.arp 198.51.100.72          02:00:00:00:00:72 0
check "hw address up to the read"   straddle.arp 198.51.100.73          02:00:00:00:00:73 0
check "255 characters and newline"  exact255.arp 198.51.100.74          02:00:00:00:00:74 0
check "line after 255 characters"   exact255.arp 198.51.100.75          02:00:00:00:00:75 0
check "255 characters at the end"   exact255.arp 198.51.100.76          02:00:00:00:00:76 0

# A client text longer than any address is the zero address, the table never read.
check "255-character client"        basic.arp "$(printf '%-255s' 192.168.1.20)" 00:11:22:33:44:55 0
check "256-character client"        basic.arp "$(printf '%-256s' 192.168.1.20)" $zero 0

# No table, or nothing in it, is the zero address with status 0.
check "empty client"                basic.arp ''                        $zero 0
check "header only"                 header.arp 198.51.100.1             $zero 0
check "empty table"                 empty.arp 198.51.100.1              $zero 0
check "no table"                    none 198.51.100.1                   $zero 0
check "table is a directory"        dir 198.51.100.1                    $zero 0

# A missing REMOTE_ADDR is the zero address with status 255, the table never opened.
check "no client"                   basic.arp -                         $zero 255
check "no client, table a FIFO"     fifo -                              $zero 255

# Arguments change nothing.
check "arguments ignored"           basic.arp 192.168.1.20              00:11:22:33:44:55 0 -h --version ''
check "arguments, no client"        basic.arp -                         $zero 255 192.168.1.20

# A reply that cannot be written changes neither the status nor standard error.
STDOUT=closed check "stdout closed"            basic.arp 192.168.1.20   "" 0
STDOUT=closed check "stdout closed, no client" basic.arp -              "" 255
STDOUT=full   check "stdout on /dev/full"      basic.arp 192.168.1.20   "" 0
STDOUT=full   check "/dev/full, no client"     basic.arp -              "" 255
STDOUT=pipe   check "pipe with no reader"      basic.arp 192.168.1.20   "" 0
STDOUT=pipe   check "no reader, no client"     basic.arp -              "" 255

finish
