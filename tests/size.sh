#!/bin/bash
# Prints the stripped size of clientmac, its loader and the libraries it needs at run
# time, and holds them to the budget: only the C library, through the loader the firmware
# has, and at most BUDGET bytes when BUDGET is set.
# Environment: CLIENTMAC, STRIP, READELF, BUDGET (0 for none), STATIC and SANITIZE (ON/OFF),
# LIBC (glibc or musl), LOADER (musl's loader's name, such as mipsel).

. "$(dirname "$0")/lib.sh"
[ "${SANITIZE:-OFF}" = ON ] && skip "a sanitizer build carries its runtime; sizes are for shipped builds"
stripped=$(mktemp)
trap 'rm -f "$stripped"' EXIT
"$STRIP" -o "$stripped" "$CLIENTMAC" || die "cannot strip $CLIENTMAC"

size=$(stat -c %s "$stripped")
needed=$("$READELF" -d "$stripped" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')
interpreter=$("$READELF" -l "$stripped" | sed -n 's/.*program interpreter: \(.*\)\]/\1/p')
echo "stripped size: $size bytes; loader: ${interpreter:-none}; needs: ${needed:-nothing}"

want_needed="libc.so.6 "
[ "$LIBC" = musl ] && want_needed="libc.so "
[ "$STATIC" = ON ] && want_needed=""
judge "libraries needed" needed "$needed" "$want_needed"
if [ "$STATIC" = ON ]; then
  judge "no loader" loader "$interpreter" ""
elif [ "$LIBC" = musl ]; then
  judge "musl's loader" loader "$interpreter" "/lib/ld-musl-$LOADER.so.1"
fi
if [ "$BUDGET" -gt 0 ]; then
  fits=yes
  [ "$size" -le "$BUDGET" ] || fits="no: $size bytes"
  judge "within $BUDGET bytes" fits "$fits" yes
fi
finish
