# Cross build for 32-bit little-endian MIPS routers with glibc: Debian's
# g++-mipsel-linux-gnu; tests run it under qemu-user (Debian's qemu-user-static).
set(gnu_processor mipsel)
set(gnu_triple mipsel-linux-gnu)
set(gnu_qemu qemu-mipsel-static)
include(${CMAKE_CURRENT_LIST_DIR}/gnu.cmake)
