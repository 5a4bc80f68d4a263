#!/bin/bash
# Load through a real web server: four clients with their own hardware addresses ask at
# the same time, up to 2,000 requests in all over IPv4 and IPv6, for at most
# LOAD_SECONDS (default 60); every reply must be the asking client's own address. Prints
# how many each client got answered. Each request is bounded at 10 s.

. "$(dirname "$0")/lib/host.sh"
require_netns
require_kernel
command -v curl >/dev/null || skip "curl is not installed"
. "$testdir/lib/webservers.sh"

requests=250 # per client and address family
seconds=${LOAD_SECONDS:-60}
families="4 6"
webnet_setup
for n in 1 2 3 4; do
  webnet_client "c$n" "02:00:00:00:10:0$n" "198.51.100.1$n" "2001:db8:1::1$n"
done
webnet_start lighttpd
webnet_wait

# Each client asks in a loop of its own until its count or the time runs out; every
# reply is one line of its results file, and a reply cut off by the time is not counted.
askers=()
for n in 1 2 3 4; do
  for family in $families; do
    timeout "$seconds" ip netns exec "$clins" curl -s --max-time 10 --interface "c$n" \
      -w '\n' "$(webnet_url mac.cgi $family)?[1-$requests]" >"$webdir/replies.$n.$family" &
    askers+=($!)
  done
done
wait "${askers[@]}"

for n in 1 2 3 4; do
  for family in $families; do
    replies=$(wc -l <"$webdir/replies.$n.$family")
    wrong=$(head -n "$replies" "$webdir/replies.$n.$family" | grep -cvx "02:00:00:00:10:0$n")
    echo "client $n over IPv$family: $replies of $requests requests answered in at most $seconds s"
    judge "client $n over IPv$family" answered "$([ "$replies" -gt 0 ] && echo yes)" yes \
      "other replies" "$wrong" 0
  done
done
finish
