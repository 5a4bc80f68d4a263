# Shared by the glibc cross toolchain files: Debian's g++ for the target CPU and its glibc,
# run under qemu-user with the target's C library found under /usr/<triple>. The including
# file sets gnu_processor, gnu_triple and gnu_qemu (the qemu-user program).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${gnu_processor})

# A missing cross compiler is named with its package, before CMake's own checks fail.
find_program(gnu_compiler ${gnu_triple}-g++)
if(NOT gnu_compiler)
  message(FATAL_ERROR "${gnu_triple}-g++ is missing: apt-get install g++-${gnu_triple}")
endif()
set(CMAKE_C_COMPILER ${gnu_triple}-gcc)
set(CMAKE_CXX_COMPILER ${gnu_triple}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${gnu_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR ${gnu_qemu} -L /usr/${gnu_triple})
