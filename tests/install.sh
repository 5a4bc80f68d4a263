#!/bin/bash
# cmake --install puts the program and its manual page where a firmware tree wants them,
# under DESTDIR and the prefix. Usage: install.sh BUILDDIR

. "$(dirname "$0")/lib.sh"
destdir=$(mktemp -d)
trap 'rm -rf "$destdir"' EXIT
DESTDIR=$destdir cmake --install "$1" --prefix /usr --strip >/dev/null || die "cmake --install failed"

installed=$(cd "$destdir" && find . -type f | sort | tr '\n' ' ')
judge "installed files" files "$installed" "./usr/bin/clientmac ./usr/share/man/man1/clientmac.1 "
judge "program runs" output "$(env -u REMOTE_ADDR "${emulator[@]}" "$destdir/usr/bin/clientmac")" \
  00:00:00:00:00:00
finish
