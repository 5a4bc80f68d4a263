#!/bin/bash
# The build's install step, as distributions run it (DESTDIR=... ninja install, or make
# install), puts the program and its manual page where a firmware tree wants them, and
# the program installed there keeps its contract. Usage: install.sh BUILDDIR

. "$(dirname "$0")/lib/host.sh"
destdir=$scratch
DESTDIR=$destdir cmake --build "$1" --target install >/dev/null || die "the install step failed"

installed=$(cd "$destdir" && find . -type f | sort | tr '\n' ' ')
prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:[A-Z]*=//p' "$1/CMakeCache.txt")
judge "installed files" files "$installed" \
  ".$prefix/bin/clientmac .$prefix/share/man/man1/clientmac.1 "
out=$(env -u REMOTE_ADDR "${emulator[@]}" "$destdir$prefix/bin/clientmac")
judge "installed program runs" output "$out" 00:00:00:00:00:00 status $? 255
finish
