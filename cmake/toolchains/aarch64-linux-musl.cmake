# Build for 64-bit ARM routers against Debian's musl-dev:arm64; tests run it under qemu-user.
set(firmware_triple aarch64-linux-musl)
set(firmware_processor aarch64)
set(firmware_qemu qemu-aarch64-static)
include(${CMAKE_CURRENT_LIST_DIR}/firmware.cmake)
