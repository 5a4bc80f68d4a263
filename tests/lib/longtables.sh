# Writes the fixture tables whose lines are longer than the 255 characters that one read
# of a line takes; they are made, not kept, so that every length is exact.
# Shared by the fixture runner and the router in a box. Usage: write_long_tables DIR

# Prints text padded on the left to width.
padded() {
  printf '%*s' "$1" "$2"
}

write_long_tables() {
  local header='IP address       HW type     Flags       HW address            Mask     Device'
  {
    echo "$header"
    printf '%-255s%s\n' '198.51.100.70 0x1 0x2 02:00:00:00:00:70 * br-lan' \
      '198.51.100.71 0x1 0x2 02:00:00:00:00:99 * br-lan'
    echo '198.51.100.71 0x1 0x2 02:00:00:00:00:71 * br-lan'
  } >"$1/longtail.arp"
  {
    echo "$header"
    # The hardware address starts at column 245 and runs past the end of the read.
    printf '%s%s\n' "$(padded 245 '198.51.100.72 0x1 0x2 ')" '02:00:00:00:00:98 * br-lan'
    # The hardware address ends exactly where the read ends, with the line going on.
    printf '%s%s\n' "$(padded 255 '198.51.100.73 0x1 0x2 02:00:00:00:00:97')" ' * br-lan'
    echo '198.51.100.72 0x1 0x2 02:00:00:00:00:72 * br-lan'
    echo '198.51.100.73 0x1 0x2 02:00:00:00:00:73 * br-lan'
  } >"$1/straddle.arp"
  {
    echo "$header"
    printf '%s\n' "$(padded 255 '198.51.100.74 0x1 0x2 02:00:00:00:00:74 * br-lan')"
    echo '198.51.100.75 0x1 0x2 02:00:00:00:00:75 * br-lan'
    printf '%s' "$(padded 255 '198.51.100.76 0x1 0x2 02:00:00:00:00:76 * br-lan')"
  } >"$1/exact255.arp"
}
