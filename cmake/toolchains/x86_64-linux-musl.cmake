# Build for OpenWrt on x86-64, and the fastest start on any x86-64 gateway, against
# Debian's musl-dev; it runs here as it is.
set(firmware_triple x86_64-linux-musl)
set(firmware_processor x86_64)
set(firmware_qemu "")
include(${CMAKE_CURRENT_LIST_DIR}/firmware.cmake)
