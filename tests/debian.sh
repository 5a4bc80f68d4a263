#!/bin/bash
# Builds the Debian package from a clean copy of the tree as dpkg-buildpackage does,
# natively and cross for armhf, arm64 and mipsel; each is lintian-clean, holds what it
# should, has its debug symbols in a -dbgsym package, and its program is for its CPU and
# needs libc alone. The native build runs its check step. The native package, unpacked
# into a scratch root (never into this machine), keeps the program's contract and its
# manual page is where man finds it. Usage: debian.sh SOURCEDIR

export CLIENTMAC_READS_ONLY=1 # the package is built; the binary is not run
. "$(dirname "$0")/lib/host.sh"
for tool in dpkg-buildpackage dh lintian man; do
  command -v $tool >/dev/null || skip "$tool is not installed"
done
source=$1

tree=$scratch/clientmac-1.0.0
clean_copy "$source" "$tree"

# Which CPU each architecture's program is for, as readelf names it.
declare -A machine=([amd64]=X86-64 [armhf]=ARM [arm64]=AArch64 [mipsel]=MIPS)
native=$(dpkg --print-architecture)
for arch in "$native" armhf arm64 mipsel; do
  # The native build runs its check step, as Debian's builders do; a cross one cannot.
  options=(-b -us -uc)
  [ "$arch" = "$native" ] || options=(-b -us -uc -a "$arch" -Pcross,nocheck)
  log=$scratch/build.$arch
  (cd "$tree" && dpkg-buildpackage "${options[@]}") >"$log" 2>&1 ||
    { tail -n 20 "$log"; judge "builds for $arch" built no yes; continue; }
  if [ "$arch" = "$native" ]; then
    ran=$(sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\)$/\1/p' "$log")
    judge "the check step runs the package's tests" ran "${ran:+yes}" yes
  fi
  deb=$scratch/clientmac_1.0.0_$arch.deb
  files=$(dpkg-deb -c "$deb" | awk '$6 !~ /\/$/ { print $6 }' | sort | tr '\n' ' ')
  unpacked=$scratch/root.$arch
  dpkg-deb -x "$deb" "$unpacked"
  program=$unpacked/usr/bin/clientmac
  readelf -h "$program" | grep -q "Machine:.*${machine[$arch]}" && cpu=yes || cpu=no
  # The loader is glibc's too: ARM's programs name it for the stack protector's guard.
  needs=$(readelf -d "$program" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | grep -v '^ld' | tr '\n' ' ')
  # The debug symbols, in their own package, under the program's build ID.
  id=$(readelf -n "$program" | sed -n 's/.*Build ID: *//p')
  dbgsym=$scratch/clientmac-dbgsym_1.0.0_$arch.deb
  debug=$([ -n "$id" ] && [ -f "$dbgsym" ] && dpkg-deb -c "$dbgsym" | awk '{ print $6 }' |
    grep -qx "./usr/lib/debug/.build-id/${id:0:2}/${id:2}.debug" && echo yes)
  judge "$arch package" files "$files" \
    "./usr/bin/clientmac ./usr/share/doc/clientmac/changelog.gz ./usr/share/doc/clientmac/copyright ./usr/share/doc/clientmac/examples/mac.cgi ./usr/share/man/man1/clientmac.1.gz " \
    "for its CPU" "$cpu" yes needs "$needs" "libc.so.6 " \
    depends "$(dpkg-deb -f "$deb" Depends)" "libc6 (>= 2.34)" \
    "debug symbols by build ID" "${debug:-no}" yes \
    lintian "$(lintian --tag-display-limit 0 "$scratch/clientmac_1.0.0_$arch.changes" 2>/dev/null)" ""
done

# The native package's program and manual page, as installed.
root=$scratch/root.$native
out=$(env -u REMOTE_ADDR "$root/usr/bin/clientmac")
judge "installed program, no client" output "$out" 00:00:00:00:00:00 status $? 255
judge "man finds the page" page "$(MANPATH=$root/usr/share/man man -w clientmac)" \
  "$root/usr/share/man/man1/clientmac.1.gz"
finish
