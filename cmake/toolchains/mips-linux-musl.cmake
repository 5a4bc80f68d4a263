# Build for OpenWrt's mips_24kc routers (ath79): 32-bit big-endian MIPS32r2, soft float,
# musl with its loader at /lib/ld-musl-mips-sf.so.1; musl built from Debian's source.
# Tests run it under qemu-user. Like OpenWrt, it builds MIPS16e code, which every 24K,
# 34K, 74K and 1004K core runs, for a third less flash.
set(firmware_triple mips-openwrt-linux-musl)
set(firmware_processor mips)
set(firmware_qemu qemu-mips-static)
set(firmware_flags "-mips16 -minterlink-mips16")
include(${CMAKE_CURRENT_LIST_DIR}/firmware.cmake)
