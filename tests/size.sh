#!/bin/bash
# Prints the stripped size of clientmac, its loader, float ABI and the libraries it needs
# at run time, and holds them to what the firmware's root holds: only the C library,
# through the loader where the firmware has it, and at most BUDGET bytes when BUDGET is set.
# Environment: CLIENTMAC, STRIP, READELF, BUDGET (0 for none), STATIC and SANITIZE (ON/OFF),
# LIBC (glibc, musl or uclibc), PROCESSOR (CMake's name for the CPU).

export CLIENTMAC_READS_ONLY=1 # the binary is read, not run
. "$(dirname "$0")/lib.sh"
. "$testdir/firmware.sh"
[ "${SANITIZE:-OFF}" = ON ] && skip "a sanitizer build carries its runtime; sizes are for shipped builds"
stripped=$scratch/clientmac
"$STRIP" -o "$stripped" "$CLIENTMAC" || die "cannot strip $CLIENTMAC"

size=$(stat -c %s "$stripped")
needs=$("$READELF" -d "$stripped" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')
interpreter=$("$READELF" -l "$stripped" | sed -n 's/.*program interpreter: \(.*\)\]/\1/p')
float=$(floatabi "$READELF" "$stripped")
echo "stripped size: $size bytes; loader: ${interpreter:-none}; float ABI: ${float:-the only one};" \
  "needs: ${needs:-nothing}"

firmware "$LIBC" "$PROCESSOR" || die "no firmware known for $LIBC on $PROCESSOR"
if [ "$STATIC" = ON ]; then
  loader="" needed=""
fi
judge "libraries needed" needed "$needs" "${needed:+$needed }"
judge "the firmware's loader" loader "$interpreter" "$loader"
judge "the firmware's float ABI" "float ABI" "$float" "$floatabi"
if [ "$BUDGET" -gt 0 ]; then
  fits=yes
  [ "$size" -le "$BUDGET" ] || fits="no: $size bytes"
  judge "within $BUDGET bytes" fits "$fits" yes
fi
finish
