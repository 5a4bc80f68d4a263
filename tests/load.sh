#!/bin/bash
# Load through a real web server: four clients with their own hardware addresses ask at
# the same time, 2,000 requests in all over IPv4 and IPv6; every reply must be the
# asking client's own address. Bounded: each request 10 s, the whole run 120 s.

. "$(dirname "$0")/lib.sh"
require_netns
command -v curl >/dev/null || skip "curl is not installed"
. "$testdir/webnet.sh"

requests=250 # per client and address family
webnet_setup
for n in 1 2 3 4; do
  webnet_client "c$n" "02:00:00:00:10:0$n" "198.51.100.1$n" "2001:db8:1::1$n"
done
webnet_start lighttpd
webnet_wait

# Each client asks in a loop of its own; every reply is one line of its results file.
askers=()
for n in 1 2 3 4; do
  for family in 4 6; do
    timeout 120 ip netns exec "$clins" curl -s --max-time 10 --interface "c$n" \
      -w '\n' "$(webnet_url mac.cgi $family)?[1-$requests]" >"$webdir/replies.$n.$family" &
    askers+=($!)
  done
done
wait "${askers[@]}"

for n in 1 2 3 4; do
  for family in 4 6; do
    want=02:00:00:00:10:0$n
    # qemu-user cannot ask the kernel for IPv6 neighbours: the emulated program answers zero.
    emulated && [ $family = 6 ] && want=00:00:00:00:00:00
    replies=$(wc -l <"$webdir/replies.$n.$family")
    wrong=$(grep -cvx "$want" "$webdir/replies.$n.$family")
    judge "client $n over IPv$family" replies "$replies" "$requests" "other replies" "$wrong" 0
  done
done
finish
