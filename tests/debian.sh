#!/bin/bash
# Builds the Debian package from a clean copy of the tree as dpkg-buildpackage does,
# natively and cross for armhf, arm64 and mipsel; each is lintian-clean, holds what it
# should, and its program is for its CPU and needs libc alone. The native one, unpacked
# into a scratch root (never into this machine), keeps the program's contract and its
# manual page is where man finds it. Usage: debian.sh SOURCEDIR

export CLIENTMAC_READS_ONLY=1 # the package is built; the binary is not run
. "$(dirname "$0")/lib.sh"
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
  options=(-b -us -uc -Pnocheck)
  [ "$arch" = "$native" ] || options=(-b -us -uc -a "$arch" -Pcross,nocheck)
  (cd "$tree" && dpkg-buildpackage "${options[@]}") >"$scratch/build.$arch" 2>&1 ||
    { tail -n 20 "$scratch/build.$arch"; judge "builds for $arch" built no yes; continue; }
  deb=$scratch/clientmac_1.0.0_$arch.deb
  files=$(dpkg-deb -c "$deb" | awk '$6 !~ /\/$/ { print $6 }' | sort | tr '\n' ' ')
  unpacked=$scratch/root.$arch
  dpkg-deb -x "$deb" "$unpacked"
  program=$unpacked/usr/bin/clientmac
  readelf -h "$program" | grep -q "Machine:.*${machine[$arch]}" && cpu=yes || cpu=no
  # The loader is glibc's too: ARM's programs name it for the stack protector's guard.
  needs=$(readelf -d "$program" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | grep -v '^ld' | tr '\n' ' ')
  judge "$arch package" files "$files" \
    "./usr/bin/clientmac ./usr/share/doc/clientmac/changelog.gz ./usr/share/doc/clientmac/copyright ./usr/share/doc/clientmac/examples/mac.cgi ./usr/share/man/man1/clientmac.1.gz " \
    "for its CPU" "$cpu" yes needs "$needs" "libc.so.6 " \
    depends "$(dpkg-deb -f "$deb" Depends)" "libc6 (>= 2.34)" \
    lintian "$(lintian --tag-display-limit 0 "$scratch/clientmac_1.0.0_$arch.changes" 2>/dev/null)" ""
done

# The native package's program and manual page, as installed.
root=$scratch/root.$native
out=$(env -u REMOTE_ADDR "$root/usr/bin/clientmac")
judge "installed program, no client" output "$out" 00:00:00:00:00:00 status $? 255
judge "man finds the page" page "$(MANPATH=$root/usr/share/man man -w clientmac)" \
  "$root/usr/share/man/man1/clientmac.1.gz"
finish
