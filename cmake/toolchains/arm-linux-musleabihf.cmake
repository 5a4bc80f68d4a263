# Build for 32-bit ARM routers (ARMv7, hard float, VFPv3-D16) against Debian's musl-dev:armhf;
# tests run it under qemu-user.
set(firmware_triple arm-linux-musleabihf)
set(firmware_processor arm)
set(firmware_qemu qemu-arm-static)
include(${CMAKE_CURRENT_LIST_DIR}/firmware.cmake)
