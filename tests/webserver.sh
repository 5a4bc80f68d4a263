#!/bin/bash
# Fetches clientmac's reply through a real web server, from clients whose hardware
# addresses the test sets; each must get exactly its own.
# Usage: webserver.sh lighttpd|busybox

. "$(dirname "$0")/lib.sh"
require_netns
command -v curl >/dev/null || skip "curl is not installed"
. "$testdir/webnet.sh"

server=$1
case $server in
  lighttpd) mapped=198.51.100.22 ;;
  busybox) mapped='[::ffff:198.51.100.22]' ;;
  *) die "usage: webserver.sh lighttpd|busybox" ;;
esac
webnet_setup
# .2 is a piece of .22 and of .222: listed first, a plain containment test would hand
# its hardware address to the others.
webnet_client c2 02:00:00:00:00:02 198.51.100.2
webnet_client c22 02:00:00:00:00:22 198.51.100.22
webnet_client c222 02:00:00:00:02:22 198.51.100.222
webnet_start "$server"
webnet_wait

# check NAME CLIENT WANTBODY
check() {
  judge "$1" body "$(webnet_get "$2")" "$3"
}

# Each client gets its own hardware address, asked in any order, more than once.
check "$server client .22"  c22 02:00:00:00:00:22
check "$server client .2"   c2 02:00:00:00:00:02
check "$server client .222" c222 02:00:00:00:02:22
check "$server again .22"   c22 02:00:00:00:00:22

# The server hands the client's address over in its own form.
judge "$server REMOTE_ADDR form" REMOTE_ADDR "$(webnet_get c22 addr.cgi)" "$mapped"

finish
