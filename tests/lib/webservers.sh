# Shared by the tests that go through a real web server: a server namespace and a client
# namespace joined by a veth pair, clients with hardware addresses of the test's choosing,
# and a server (lighttpd, busybox httpd, nginx with fcgiwrap, apache2 or mini_httpd) running
# clientmac behind a CGI wrapper, with a configuration of the test's own: nothing is
# written to /etc, and only nginx's stock CGI variables (fastcgi.conf, which a site's
# configuration includes) are read from it. Each server runs as Debian's package runs
# it: as www-data (mini_httpd as nobody), busybox httpd as the root of a router. The
# caller has sourced lib.sh. Everything made here goes again in webnet_cleanup.

srvns=clientmac-srv-$$
clins=clientmac-cli-$$
webdir=$scratch
# Servers that drop root serve the CGI programs as another user, and write their logs
# and sockets in a directory of that user's, as /var/log and /run are made for them.
chmod 755 "$webdir"
install -d -o www-data -g www-data "$webdir/var"
serverpids=()
serveraddr=198.51.100.1
serveraddr6=2001:db8:1::1
serverlinklocal=fe80::1

webnet_cleanup() {
  local pid
  for pid in "${serverpids[@]}"; do
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  ip netns del "$srvns" 2>/dev/null
  ip netns del "$clins" 2>/dev/null
}
atexit webnet_cleanup

# Makes both namespaces and the link between them. The clients share one link, so each
# must answer ARP and send from its own interface alone.
webnet_setup() {
  ip netns add "$srvns" && ip netns add "$clins" &&
    ip -n "$srvns" link set lo up && ip -n "$clins" link set lo up &&
    ip -n "$srvns" link add web0 type veth peer name web1 netns "$clins" &&
    ip -n "$srvns" addr add "$serveraddr/24" dev web0 &&
    ip -n "$srvns" addr add "$serveraddr6/64" dev web0 nodad &&
    ip -n "$srvns" addr add "$serverlinklocal/64" dev web0 nodad &&
    ip -n "$srvns" link set web0 up && ip -n "$clins" link set web1 up &&
    ip netns exec "$clins" sysctl -q -w net.ipv4.conf.all.arp_ignore=1 \
      net.ipv4.conf.all.arp_announce=2 ||
    die "cannot set up the server and client namespaces"
}

# webnet_client NAME MAC ADDRESS ADDRESS6: a client interface of its own hardware address,
# a macvlan on the client end of the link, with an IPv4 and an IPv6 address, and the
# link-local address of the same last group as its only one (fe80::22 for 2001:db8:1::22).
webnet_client() {
  ip -n "$clins" link add "$1" link web1 address "$2" type macvlan mode bridge &&
    ip -n "$clins" link set "$1" addrgenmode none &&
    ip -n "$clins" addr add "$3/24" dev "$1" &&
    ip -n "$clins" addr add "$4/64" dev "$1" nodad &&
    ip -n "$clins" addr add "fe80::${4##*::}/64" dev "$1" nodad &&
    ip -n "$clins" link set "$1" up || die "cannot add client $1 ($3, $2)"
}

# Writes the CGI wrapper that a router would install: the header, then clientmac itself,
# a copy that a server's own user can reach whatever the build tree's permissions; and the
# link a router installs instead: the program itself, called by a CGI name. (Under
# qemu-user, which refuses the rule dump, the tests that serve it skip.)
webnet_wrapper() {
  local bin=$webdir/www/cgi-bin
  mkdir -p "$bin"
  cp "$CLIENTMAC" "$webdir/clientmac"
  cgiscript "$bin/mac.cgi" "exec $webdir/clientmac"
  ln -s "$webdir/clientmac" "$bin/clientmac.cgi"
  # What the server puts in REMOTE_ADDR, and whom it runs CGI programs as, so that a
  # test can show what it exercised.
  cgiscript "$bin/addr.cgi" 'printf %s "$REMOTE_ADDR"'
  cgiscript "$bin/server.cgi" 'printf %s "${SERVER_ADDR-unset}"'
  # Which of the other variables the reply's flow is read from the server sets, and what
  # the CGI program's standard input is (a socket, or a pipe).
  cgiscript "$bin/flow.cgi" 'printf "%s %s %s" "${REMOTE_PORT:+REMOTE_PORT}" "${SERVER_PORT:+SERVER_PORT}" "$(readlink /proc/self/fd/0 | cut -d: -f1)"'
  cgiscript "$bin/user.cgi" 'printf %s "$(id -un)"'
}

# webnet_serve COMMAND...: starts one of the server's processes in the server namespace,
# in a session of its own (apache2 signals its whole process group when it stops).
webnet_serve() {
  ip netns exec "$srvns" setsid "$@" &
  serverpids+=($!)
}

# webnet_start SERVER: starts the server in the server namespace.
webnet_start() {
  webnet_wrapper
  local program=$1
  case $1 in
    busybox) ;;
    nginx) program=fcgiwrap ;;
  esac
  command -v "$program" >/dev/null || skip "$program is not installed"
  case $1 in
    lighttpd)
      cat >"$webdir/lighttpd.conf" <<CONF
server.document-root = "$webdir/www"
server.bind = "0.0.0.0"
server.port = 80
server.errorlog = "$webdir/var/server.log"
server.username = "www-data"
server.groupname = "www-data"
server.modules += ("mod_cgi")
cgi.assign = (".cgi" => "")
\$SERVER["socket"] == "[::]:80" { }
CONF
      webnet_serve lighttpd -D -f "$webdir/lighttpd.conf"
      ;;
    busybox)
      webnet_serve busybox httpd -f -p 80 -h "$webdir/www"
      ;;
    nginx)
      # nginx runs no CGI itself: fcgiwrap runs it for nginx's FastCGI requests, as
      # Debian's fcgiwrap units do: as www-data, on a socket only www-data may use, which
      # nginx's workers, www-data too, reach, with the CGI variables of the stock
      # fastcgi.conf. One dual-stack socket takes both families.
      command -v nginx >/dev/null || skip "nginx is not installed"
      mkdir "$webdir/nginx"
      cat >"$webdir/nginx.conf" <<CONF
daemon off;
user www-data;
worker_processes 1;
pid $webdir/nginx.pid;
error_log $webdir/var/server.log;
events { worker_connections 64; }
http {
  access_log off;
  client_body_temp_path $webdir/nginx/body;
  fastcgi_temp_path $webdir/nginx/fastcgi;
  proxy_temp_path $webdir/nginx/proxy;
  uwsgi_temp_path $webdir/nginx/uwsgi;
  scgi_temp_path $webdir/nginx/scgi;
  server {
    listen [::]:80 ipv6only=off;
    root $webdir/www;
    location /cgi-bin/ {
      fastcgi_pass unix:$webdir/var/fcgiwrap.socket;
      include /etc/nginx/fastcgi.conf;
    }
  }
}
CONF
      webnet_serve setpriv --reuid=www-data --regid=www-data --clear-groups \
        sh -c 'umask 117 && exec fcgiwrap -s "unix:$0"' "$webdir/var/fcgiwrap.socket"
      webnet_serve nginx -e "$webdir/var/server.log" -p "$webdir" -c "$webdir/nginx.conf"
      ;;
    apache2)
      # apache2's children run the CGI programs as www-data.
      local modules=/usr/lib/apache2/modules
      cat >"$webdir/apache2.conf" <<CONF
ServerRoot $webdir
ServerName localhost
DefaultRuntimeDir $webdir
PidFile $webdir/apache2.pid
ErrorLog $webdir/var/server.log
LoadModule mpm_prefork_module $modules/mod_mpm_prefork.so
LoadModule authz_core_module $modules/mod_authz_core.so
LoadModule alias_module $modules/mod_alias.so
LoadModule cgi_module $modules/mod_cgi.so
User www-data
Group www-data
Listen 80
DocumentRoot $webdir/www
ScriptAlias /cgi-bin/ $webdir/www/cgi-bin/
<Directory $webdir/www>
  Require all granted
</Directory>
CONF
      webnet_serve apache2 -f "$webdir/apache2.conf" -DFOREGROUND
      ;;
    mini_httpd)
      webnet_serve mini_httpd -D -p 80 -d "$webdir/www" -c 'cgi-bin/*' -u nobody \
        -l "$webdir/var/server.log" -i "$webdir/mini_httpd.pid"
      ;;
  esac
}

# webnet_url SCRIPT 4|6|ll [CLIENT]: the address of a CGI script on the server, over IPv4,
# IPv6, or IPv6 link-local from CLIENT's interface.
webnet_url() {
  local server=$serveraddr
  [ "$2" = 6 ] && server="[$serveraddr6]"
  [ "$2" = ll ] && server="[$serverlinklocal%25$3]"
  echo "http://$server/cgi-bin/$1"
}

# webnet_get CLIENT [SCRIPT [4|6|ll]]: the body of one request from that client for
# mac.cgi or SCRIPT, over IPv4, IPv6 or IPv6 link-local; fails on no answer. The reply's
# header is kept for webnet_header.
webnet_get() {
  rm -f "$webdir/header"
  ip netns exec "$clins" curl -sS --fail --max-time 10 --interface "$1" -D "$webdir/header" \
    "$(webnet_url "${2:-mac.cgi}" "${3:-4}" "$1")"
}

# webnet_header NAME: the value of the header field NAME in the last reply webnet_get had.
webnet_header() {
  tr -d '\r' <"$webdir/header" 2>/dev/null | sed -n "s/^$1: *//Ip"
}

# Waits until the server answers, for at most ten seconds.
webnet_wait() {
  local tries
  for tries in $(seq 50); do
    ip netns exec "$clins" curl -s --max-time 1 -o /dev/null "http://$serveraddr/" && return 0
    sleep 0.2
  done
  die "the server did not answer; its log: $(cat "$webdir/var/server.log" 2>/dev/null)"
}
