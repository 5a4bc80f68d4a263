#!/bin/bash
# Prints the stripped size of clientmac and the libraries it needs at run time, and holds
# them to the budget: only the C library, and at most BUDGET bytes when BUDGET is set.
# Environment: CLIENTMAC, STRIP, READELF, BUDGET (0 for none), STATIC and SANITIZE (ON/OFF).

. "$(dirname "$0")/lib.sh"
[ "${SANITIZE:-OFF}" = ON ] && skip "a sanitizer build carries its runtime; sizes are for shipped builds"
stripped=$(mktemp)
trap 'rm -f "$stripped"' EXIT
"$STRIP" -o "$stripped" "$CLIENTMAC" || die "cannot strip $CLIENTMAC"

size=$(stat -c %s "$stripped")
needed=$("$READELF" -d "$stripped" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')
echo "stripped size: $size bytes; needs: ${needed:-nothing}"

want_needed="libc.so.6 "
[ "$STATIC" = ON ] && want_needed=""
judge "libraries needed" needed "$needed" "$want_needed"
if [ "$BUDGET" -gt 0 ]; then
  fits=yes
  [ "$size" -le "$BUDGET" ] || fits="no: $size bytes"
  judge "within $BUDGET bytes" fits "$fits" yes
fi
finish
