# Build for 64-bit ARM routers against musl: Debian's g++-aarch64-linux-gnu with
# musl-dev:arm64; tests run it under qemu-user.
set(musl_processor aarch64)
set(musl_loader aarch64)
set(musl_triple aarch64-linux-musl)
set(gnu_prefix "aarch64-linux-gnu-")
set(musl_qemu "qemu-aarch64-static")
# The linker aligns aarch64 segments for 64 KiB pages, which pads a few kilobytes of code
# to 64 KiB; routers' kernels use 4 KiB pages.
set(musl_link_flags "-Wl,-z,max-page-size=4096")
include(${CMAKE_CURRENT_LIST_DIR}/musl.cmake)
