# Build for older vendor firmware on 32-bit little-endian MIPS32r2 with uClibc: uClibc-ng,
# soft float, its loader at /lib/ld-uClibc.so.0 and its C library /lib/libc.so.0;
# uClibc-ng built from Debian's uclibc-source. Tests run it under qemu-user. It builds
# MIPS16e code, which every 24K, 34K, 74K and 1004K core runs, for a third less flash.
set(firmware_triple mipsel-linux-uclibc)
set(firmware_processor mipsel)
set(firmware_qemu qemu-mipsel-static)
set(firmware_flags "-mips16 -minterlink-mips16")
include(${CMAKE_CURRENT_LIST_DIR}/firmware.cmake)
