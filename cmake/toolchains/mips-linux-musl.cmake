# Build for OpenWrt's mips_24kc routers (ath79): 32-bit big-endian MIPS32r2, soft float,
# musl with its loader at /lib/ld-musl-mips-sf.so.1; musl built from Debian's source.
# Tests run it under qemu-user.
set(firmware_triple mips-openwrt-linux-musl)
set(firmware_processor mips)
set(firmware_qemu qemu-mips-static)
include(${CMAKE_CURRENT_LIST_DIR}/firmware.cmake)
