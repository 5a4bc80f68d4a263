#!/bin/bash
# Prints the stripped size of clientmac, its loader, float ABI and the libraries it needs
# at run time, and holds them to what the firmware's root holds: only the C library,
# through the loader where the firmware has it, and at most BUDGET bytes when BUDGET is set.
# Environment: CLIENTMAC, STRIP, READELF, BUDGET (0 for none), STATIC and SANITIZE (ON/OFF),
# LIBC (glibc, musl or uclibc), PROCESSOR (CMake's name for the CPU).

export CLIENTMAC_READS_ONLY=1 # the binary is read, not run
. "$(dirname "$0")/lib/host.sh"
. "$testdir/lib/firmware.sh"
[ "${SANITIZE:-OFF}" = ON ] && skip "a sanitizer build carries its runtime; sizes are for shipped builds"
stripped=$scratch/clientmac
"$STRIP" -o "$stripped" "$CLIENTMAC" || die "cannot strip $CLIENTMAC"

# glibc on a CPU that no firmware row names is a distribution's own build (Debian's arm64
# package, say): its loader and libraries are the distribution's to say, and no budget
# holds. A musl or uClibc-ng build is for firmware, which must have its row.
if ! firmware "$LIBC" "$PROCESSOR"; then
  [ "$LIBC" = glibc ] && [ "$BUDGET" -eq 0 ] &&
    skip "no firmware is known for glibc on $PROCESSOR: a distribution's build, held to nothing" \
      "($(stat -c %s "$stripped") bytes stripped)"
  die "no firmware known for $LIBC on $PROCESSOR"
fi
holdelf "$READELF" "$stripped" "$STATIC" "$BUDGET"
finish
