# Shared by the tests that go through a real web server: a server namespace and a client
# namespace joined by a veth pair, clients with hardware addresses of the test's choosing,
# and lighttpd or busybox httpd running clientmac behind a CGI wrapper.
# The caller has sourced lib.sh. Everything made here goes again in webnet_cleanup.

srvns=clientmac-srv-$$
clins=clientmac-cli-$$
webdir=$(mktemp -d)
serverpid=""
serveraddr=198.51.100.1
serveraddr6=2001:db8:1::1

webnet_cleanup() {
  if [ -n "$serverpid" ]; then
    kill "$serverpid" 2>/dev/null
    wait "$serverpid" 2>/dev/null
  fi
  ip netns del "$srvns" 2>/dev/null
  ip netns del "$clins" 2>/dev/null
  rm -rf "$webdir"
}
trap webnet_cleanup EXIT

# Makes both namespaces and the link between them. The clients share one link, so each
# must answer ARP and send from its own interface alone.
webnet_setup() {
  ip netns add "$srvns" && ip netns add "$clins" &&
    ip -n "$srvns" link set lo up && ip -n "$clins" link set lo up &&
    ip -n "$srvns" link add web0 type veth peer name web1 netns "$clins" &&
    ip -n "$srvns" addr add "$serveraddr/24" dev web0 &&
    ip -n "$srvns" addr add "$serveraddr6/64" dev web0 nodad &&
    ip -n "$srvns" link set web0 up && ip -n "$clins" link set web1 up &&
    ip netns exec "$clins" sysctl -q -w net.ipv4.conf.all.arp_ignore=1 \
      net.ipv4.conf.all.arp_announce=2 ||
    die "cannot set up the server and client namespaces"
}

# webnet_client NAME MAC ADDRESS ADDRESS6: a client interface of its own hardware address,
# a macvlan on the client end of the link, with an IPv4 and an IPv6 address.
webnet_client() {
  ip -n "$clins" link add "$1" link web1 address "$2" type macvlan mode bridge &&
    ip -n "$clins" addr add "$3/24" dev "$1" &&
    ip -n "$clins" addr add "$4/64" dev "$1" nodad &&
    ip -n "$clins" link set "$1" up || die "cannot add client $1 ($3, $2)"
}

# Writes the CGI wrapper that a router would install: the header, then clientmac itself.
webnet_wrapper() {
  mkdir -p "$webdir/www/cgi-bin"
  {
    echo '#!/bin/sh'
    echo "printf 'Content-Type: text/plain\\r\\n\\r\\n'"
    echo "exec ${clientmac[*]}"
  } >"$webdir/www/cgi-bin/mac.cgi"
  # What the server puts in REMOTE_ADDR, so a test can show which form it exercised.
  printf '#!/bin/sh\nprintf "Content-Type: text/plain\\r\\n\\r\\n%%s" "$REMOTE_ADDR"\n' \
    >"$webdir/www/cgi-bin/addr.cgi"
  chmod 755 "$webdir/www/cgi-bin/mac.cgi" "$webdir/www/cgi-bin/addr.cgi"
}

# webnet_start lighttpd|busybox: starts the server in the server namespace.
webnet_start() {
  webnet_wrapper
  case $1 in
    lighttpd)
      command -v lighttpd >/dev/null || skip "lighttpd is not installed"
      cat >"$webdir/lighttpd.conf" <<CONF
server.document-root = "$webdir/www"
server.bind = "0.0.0.0"
server.port = 80
server.errorlog = "$webdir/server.log"
server.modules += ("mod_cgi")
cgi.assign = (".cgi" => "")
\$SERVER["socket"] == "[::]:80" { }
CONF
      ip netns exec "$srvns" lighttpd -D -f "$webdir/lighttpd.conf" &
      ;;
    busybox)
      command -v busybox >/dev/null || skip "busybox is not installed"
      ip netns exec "$srvns" busybox httpd -f -p 80 -h "$webdir/www" &
      ;;
  esac
  serverpid=$!
}

# webnet_url SCRIPT 4|6: the address of a CGI script on the server, over IPv4 or IPv6.
webnet_url() {
  local server=$serveraddr
  [ "$2" = 6 ] && server="[$serveraddr6]"
  echo "http://$server/cgi-bin/$1"
}

# webnet_get CLIENT [SCRIPT [4|6]]: the body of one request from that client for mac.cgi
# or SCRIPT, over IPv4 or IPv6; fails on no answer.
webnet_get() {
  ip netns exec "$clins" curl -sS --fail --max-time 10 --interface "$1" \
    "$(webnet_url "${2:-mac.cgi}" "${3:-4}")"
}

# Waits until the server answers, for at most ten seconds.
webnet_wait() {
  local tries
  for tries in $(seq 50); do
    ip netns exec "$clins" curl -s --max-time 1 -o /dev/null "http://$serveraddr/" && return 0
    sleep 0.2
  done
  die "the server did not answer; its log: $(cat "$webdir/server.log" 2>/dev/null)"
}
