# Build for 32-bit little-endian MIPS routers, the main target, against OpenWrt's musl:
# Debian's g++-mipsel-linux-gnu with musl-dev:mipsel; tests run it under qemu-user.
set(musl_processor mipsel)
set(musl_loader mipsel)
set(musl_triple mipsel-linux-musl)
set(gnu_prefix "mipsel-linux-gnu-")
set(musl_qemu "qemu-mipsel-static")
include(${CMAKE_CURRENT_LIST_DIR}/musl.cmake)
