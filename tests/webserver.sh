#!/bin/bash
# Fetches clientmac's reply through a real web server, from clients whose hardware
# addresses the test sets; each must get exactly its own, over IPv4, IPv6 and IPv6
# link-local, in whatever form the server hands the address over.
# Usage: webserver.sh lighttpd|busybox|nginx|apache2|mini_httpd

. "$(dirname "$0")/lib/host.sh"
require_netns
require_kernel
command -v curl >/dev/null || skip "curl is not installed"
. "$testdir/lib/webservers.sh"

# What each server puts in REMOTE_ADDR for client .22 over IPv4, IPv6 and link-local,
# and in SERVER_ADDR over IPv4 (the address the request came in on, from which the
# program asks the reply's route; "unset" where the server sets none), whom it runs the
# CGI programs as, as Debian's package runs it, and which of REMOTE_PORT and SERVER_PORT
# it sets, with what the program's standard input is (mini_httpd hands a GET's CGI
# program the connection itself).
server=$1
case $server in
  lighttpd)   form4=198.51.100.22           form6=2001:db8:1::22     formll=fe80::22 own4=198.51.100.1 user=www-data flow='REMOTE_PORT SERVER_PORT /dev/null' ;;
  busybox)    form4='[::ffff:198.51.100.22]' form6='[2001:db8:1::22]' formll='[fe80::22%web0]' own4=unset user=root flow='REMOTE_PORT  pipe' ;;
  nginx)      form4=::ffff:198.51.100.22    form6=2001:db8:1::22     formll=fe80::22 own4=::ffff:198.51.100.1 user=www-data flow='REMOTE_PORT SERVER_PORT pipe' ;;
  apache2)    form4=198.51.100.22           form6=2001:db8:1::22     formll=fe80::22%web0 own4=198.51.100.1 user=www-data flow='REMOTE_PORT SERVER_PORT pipe' ;;
  mini_httpd) form4=198.51.100.22           form6=2001:db8:1::22     formll=fe80::22%web0 own4=unset user=nobody flow=' SERVER_PORT socket' ;;
  *) die "usage: webserver.sh lighttpd|busybox|nginx|apache2|mini_httpd" ;;
esac
webnet_setup
# .2 is a piece of .22 and of .222: listed first, a plain containment test would hand
# its hardware address to the others.
webnet_client c2 02:00:00:00:00:02 198.51.100.2 2001:db8:1::2
webnet_client c22 02:00:00:00:00:22 198.51.100.22 2001:db8:1::22
webnet_client c222 02:00:00:00:02:22 198.51.100.222 2001:db8:1::222
webnet_start "$server"
webnet_wait

# fetch NAME CLIENT WANT: one case through the server: CLIENT (a client interface) asks
# over IPv4, or over IPv6 or link-local with OVER=6 or ll, for the wrapper (mac.cgi), or
# for the program SCRIPT names (clientmac.cgi, the link); judged: the body WANT, the
# request's status 0, nothing on standard error, and the header's Cache-Control passed
# through, since no cache may hand one client's answer to another.
fetch() {
  out=$(webnet_get "$2" "${SCRIPT:-mac.cgi}" "${OVER:-4}" 2>"$webdir/err")
  status=$?
  judge "$1" body "$out" "$3" status "$status" 0 stderr "$(cat "$webdir/err")" "" \
    Cache-Control "$(webnet_header Cache-Control)" no-store
}

# Each client gets its own hardware address, asked in any order, more than once.
fetch "$server IPv4 client .22"  c22 02:00:00:00:00:22
fetch "$server IPv4 client .2"   c2 02:00:00:00:00:02
fetch "$server IPv4 client .222" c222 02:00:00:00:02:22
fetch "$server IPv4 again .22"   c22 02:00:00:00:00:22
OVER=6 fetch "$server IPv6 client ::22"  c22 02:00:00:00:00:22
OVER=6 fetch "$server IPv6 client ::2"   c2 02:00:00:00:00:02
OVER=6 fetch "$server IPv6 client ::222" c222 02:00:00:00:02:22
OVER=6 fetch "$server IPv6 again ::22"   c22 02:00:00:00:00:22
OVER=ll fetch "$server link-local fe80::22"  c22 02:00:00:00:00:22
OVER=ll fetch "$server link-local fe80::2"   c2 02:00:00:00:00:02
OVER=ll fetch "$server link-local fe80::222" c222 02:00:00:00:02:22

# The link by a CGI name, with the server's stock CGI set-up, answers as the wrapper does.
SCRIPT=clientmac.cgi fetch "$server link, IPv4 client .22"  c22 02:00:00:00:00:22
SCRIPT=clientmac.cgi fetch "$server link, IPv4 client .2"   c2 02:00:00:00:00:02
SCRIPT=clientmac.cgi OVER=6 fetch "$server link, IPv6 client ::22"  c22 02:00:00:00:00:22
SCRIPT=clientmac.cgi OVER=6 fetch "$server link, IPv6 client ::222" c222 02:00:00:00:02:22
SCRIPT=clientmac.cgi OVER=ll fetch "$server link, link-local fe80::22" c22 02:00:00:00:00:22
SCRIPT=clientmac.cgi OVER=ll fetch "$server link, link-local fe80::2"  c2 02:00:00:00:00:02

# The server hands the client's address over in its own form.
judge "$server IPv4 REMOTE_ADDR form" REMOTE_ADDR "$(webnet_get c22 addr.cgi 4)" "$form4"
judge "$server IPv6 REMOTE_ADDR form" REMOTE_ADDR "$(webnet_get c22 addr.cgi 6)" "$form6"
judge "$server link-local REMOTE_ADDR form" REMOTE_ADDR "$(webnet_get c22 addr.cgi ll)" "$formll"
judge "$server IPv4 SERVER_ADDR" SERVER_ADDR "$(webnet_get c22 server.cgi 4)" "$own4"
judge "$server flow" variables "$(webnet_get c22 flow.cgi 4)" "$flow"
judge "$server runs CGI as" user "$(webnet_get c22 user.cgi)" "$user"

finish
