# Build for 32-bit ARM routers (hard float) against musl: Debian's
# g++-arm-linux-gnueabihf with musl-dev:armhf; tests run it under qemu-user.
set(musl_processor arm)
set(musl_loader armhf)
set(musl_triple arm-linux-musleabihf)
set(gnu_prefix "arm-linux-gnueabihf-")
set(musl_qemu "qemu-arm-static")
include(${CMAKE_CURRENT_LIST_DIR}/musl.cmake)
