# Cross build for big-endian MIPS with glibc: Debian's g++-mips-linux-gnu. Debian has no
# musl for it; the build is here to catch byte-order faults, under qemu-user.
set(gnu_processor mips)
set(gnu_triple mips-linux-gnu)
set(gnu_qemu qemu-mips-static)
include(${CMAKE_CURRENT_LIST_DIR}/gnu.cmake)
