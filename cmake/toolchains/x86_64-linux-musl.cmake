# Build for OpenWrt on x86-64, and the fastest start on any x86-64 gateway, against musl:
# the host's g++ with musl-dev; it runs here as it is, the loader from Debian's musl.
set(musl_processor x86_64)
set(musl_loader x86_64)
set(musl_triple x86_64-linux-musl)
set(gnu_prefix "")
set(musl_qemu "")
include(${CMAKE_CURRENT_LIST_DIR}/musl.cmake)
