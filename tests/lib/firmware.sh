# What a firmware's root holds, for each C library and CPU: where the loader is, the C
# library a program names and the file in /lib that holds it (none for musl, whose
# loader is the library), the float ABI its programs use (soft, hard, or "" where the
# CPU has one only), and the flash the program may take there, as OpenWrt's Release build
# makes it and its sstrip cuts it (0: no firmware budget). OpenWrt's MIPS targets are
# soft-float, as are uClibc-ng's here; Debian's are hard-float. The 64-bit budgets are
# larger for the layout, not the code: aarch64's linker places the writable segment so that
# RELRO ends at a page's end, and the file holds the padding before it (about 12,291 bytes);
# x86-64's lays out four load segments, each from a page of the file of its own (about
# 16,387). Sourced by the size, box and openwrt-sdk tests.

# firmware LIBC PROCESSOR: sets loader, needed, library, floatabi and budget; false for none
# known.
firmware() {
  case $1/$2 in
    musl/mipsel)   loader=/lib/ld-musl-mipsel-sf.so.1 needed=libc.so   library=""        floatabi=soft budget=10240 ;;
    musl/mips)     loader=/lib/ld-musl-mips-sf.so.1   needed=libc.so   library=""        floatabi=soft budget=10240 ;;
    musl/arm)      loader=/lib/ld-musl-armhf.so.1     needed=libc.so   library=""        floatabi=hard budget=10240 ;;
    musl/aarch64)  loader=/lib/ld-musl-aarch64.so.1   needed=libc.so   library=""        floatabi=""   budget=14336 ;;
    musl/x86_64)   loader=/lib/ld-musl-x86_64.so.1    needed=libc.so   library=""        floatabi=""   budget=18432 ;;
    uclibc/mipsel) loader=/lib/ld-uClibc.so.0         needed=libc.so.0 library=libc.so.0 floatabi=soft budget=10240 ;;
    glibc/mips*)   loader=/lib/ld.so.1                needed=libc.so.6 library=libc.so.6 floatabi=hard budget=0     ;;
    glibc/x86_64)  loader=/lib64/ld-linux-x86-64.so.2 needed=libc.so.6 library=libc.so.6 floatabi=""   budget=0     ;;
    *) return 1 ;;
  esac
}

# floatabi READELF FILE: the float ABI the file's attributes name, as firmware() says it.
# A file without section headers (OpenWrt's sstrip drops them) shows no attributes: ARM's
# float ABI is then in the ELF header's flags, and MIPS's in the ABI flags segment, whose
# eighth byte is fp_abi (3 for soft float, 1, 2 or 4 to 7 for the hard-float ones).
floatabi() {
  local attributes header offset fpabi
  attributes=$("$1" -A "$2")
  case $attributes in
    *"FP ABI: Soft float"*) echo soft; return ;;
    *"FP ABI: Hard float"* | *"Tag_ABI_VFP_args: VFP registers"*) echo hard; return ;;
  esac
  header=$("$1" -h "$2")
  case $header in
    *", soft-float ABI"*) echo soft; return ;;
    *", hard-float ABI"*) echo hard; return ;;
  esac
  offset=$("$1" -lW "$2" | awk '$1 == "ABIFLAGS" { print $2 }')
  [ -n "$offset" ] || return 0
  fpabi=$(od -An -tu1 -j $((offset + 7)) -N1 "$2" | tr -d ' ')
  case $fpabi in
    3) echo soft ;;
    1 | 2 | 4 | 5 | 6 | 7) echo hard ;;
  esac
}

# holdelf READELF FILE STATIC BUDGET: prints FILE's size, loader, float ABI and the
# libraries it needs, and judges them by what firmware() set (a static FILE has neither
# loader nor libraries), and the size too where BUDGET is over 0.
holdelf() {
  local size needs interpreter float
  size=$(stat -c %s "$2")
  needs=$("$1" -dW "$2" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')
  interpreter=$("$1" -lW "$2" | sed -n 's/.*program interpreter: \(.*\)\]/\1/p')
  float=$(floatabi "$1" "$2")
  echo "stripped size: $size bytes; loader: ${interpreter:-none};" \
    "float ABI: ${float:-the only one}; needs: ${needs:-nothing}"
  [ "$3" = ON ] && loader="" needed=""
  judge "libraries needed" needed "$needs" "${needed:+$needed }"
  judge "the firmware's loader" loader "$interpreter" "$loader"
  judge "the firmware's float ABI" "float ABI" "$float" "$floatabi"
  [ "$4" -gt 0 ] || return 0
  judge "within $4 bytes" fits "$([ "$size" -le "$4" ] && echo yes || echo "no: $size bytes")" yes
}
