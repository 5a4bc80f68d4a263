# Fills a network namespace's ARP table with many permanent entries: for the churn case
# and for the benchmark. Sourced.

# Turns a line of the batch into the command that deletes its entry.
todelete='s/^neigh add \([^ ]*\) lladdr [^ ]* dev \([^ ]*\) .*/neigh del \1 dev \2/'

# filltable NS COUNT NET BATCH: COUNT entries on veth pairs of NS's own (t0a-t0b, ...),
# 254 addresses of NET (such as 203.0.113) a device, each with a MAC of its own; the
# commands stay in BATCH. Prints the address, MAC and device of the entry the table lists
# last, made the only entry of its address and routed by its device.
filltable() {
  local ns=$1 count=$2 net=$3 batch=$4 pair i side
  for pair in $(seq 0 $(((count - 1) / 508))); do
    ip -n "$ns" link add "t${pair}a" type veth peer name "t${pair}b" &&
      ip -n "$ns" link set "t${pair}a" up && ip -n "$ns" link set "t${pair}b" up || return 1
  done
  for i in $(seq 0 $((count - 1))); do
    side=a
    [ $((i / 254 % 2)) -eq 1 ] && side=b
    printf 'neigh add %s.%d lladdr 02:00:00:99:%02x:%02x dev t%d%s nud permanent\n' \
      "$net" $((i % 254 + 1)) $((i / 254)) $((i % 254 + 1)) $((i / 508)) $side
  done >"$batch"
  ip -n "$ns" -batch "$batch" || return 1
  local client mac device
  read -r client _ _ mac _ device < <(ip netns exec "$ns" tail -n 1 /proc/net/arp)
  grep " $client lladdr " "$batch" | grep -v " $mac " | sed "$todelete" | ip -n "$ns" -batch - &&
    ip -n "$ns" route replace "$client" dev "$device" || return 1
  echo "$client $mac $device"
}
