# Shared by the musl toolchain files: Debian's g++ for the target CPU (built for glibc),
# turned to musl, the C library of OpenWrt and of the static build for uClibc firmware.
# The including file sets musl_processor, musl_loader (the loader's name in /lib),
# musl_triple (Debian's musl directories), gnu_prefix (the compiler's, "" for the host's)
# musl_qemu (the qemu-user program that runs the result, "" for none) and, if it needs any,
# musl_link_flags.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${musl_processor})
set(CMAKE_C_COMPILER ${gnu_prefix}gcc)
set(CMAKE_CXX_COMPILER ${gnu_prefix}g++)
set(CLIENTMAC_LIBC musl)

# libstdc++'s headers are the glibc compiler's; only the header-only parts are used.
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -xc++ -E -v /dev/null
  OUTPUT_QUIET ERROR_VARIABLE search)
string(REGEX MATCHALL "\n (/[^\n]*/c\\+\\+/[^\n]*)" cxxdirs "${search}")
string(REGEX REPLACE "\n " "" cxxdirs "${cxxdirs}")
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=include
  OUTPUT_VARIABLE gccinclude OUTPUT_STRIP_TRAILING_WHITESPACE)

# The kernel's uapi headers alone, so that no glibc header can stand in for musl's.
if(gnu_prefix)
  string(REGEX REPLACE "-$" "" gnu_triple "${gnu_prefix}")
  set(uapi_generic /usr/${gnu_triple}/include)
  set(uapi_arch /usr/${gnu_triple}/include)
else()
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -dumpmachine
    OUTPUT_VARIABLE gnu_triple OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(uapi_generic /usr/include)
  set(uapi_arch /usr/include/${gnu_triple})
endif()
set(uapi ${CMAKE_BINARY_DIR}/musl-uapi)
file(MAKE_DIRECTORY ${uapi})
file(CREATE_LINK ${uapi_generic}/linux ${uapi}/linux SYMBOLIC)
file(CREATE_LINK ${uapi_generic}/asm-generic ${uapi}/asm-generic SYMBOLIC)
file(CREATE_LINK ${uapi_arch}/asm ${uapi}/asm SYMBOLIC)

# libstdc++'s bits/os_defines.h asks __GLIBC_PREREQ, which musl lacks: no glibc, so no.
# musl-gcc.specs names musl's start files, C library and loader; g++ still names
# libstdc++ on every link, which --as-needed drops unused.
set(c_include "")
foreach(dir /usr/include/${musl_triple} ${uapi} ${gccinclude})
  string(APPEND c_include " -isystem ${dir}")
endforeach()
# libstdc++'s directories come first: its <cstdlib> and the like include_next musl's.
set(cxx_include "")
foreach(dir ${cxxdirs})
  string(APPEND cxx_include " -isystem ${dir}")
endforeach()
set(CMAKE_C_FLAGS_INIT "-nostdinc${c_include}")
set(CMAKE_CXX_FLAGS_INIT "-nostdinc${cxx_include}${c_include} '-D__GLIBC_PREREQ(major,minor)=0'")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-specs=/usr/lib/${musl_triple}/musl-gcc.specs -Wl,--as-needed ${musl_link_flags}")

set(CMAKE_FIND_ROOT_PATH /usr/lib/${musl_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# A dynamic build runs under qemu-user in a root that holds the loader where the firmware
# has it; Debian installs musl's loader, which is its C library, as libc.so.
if(musl_qemu)
  set(musl_root ${CMAKE_BINARY_DIR}/musl-root)
  file(MAKE_DIRECTORY ${musl_root}/lib)
  file(CREATE_LINK /usr/lib/${musl_triple}/libc.so ${musl_root}/lib/ld-musl-${musl_loader}.so.1
    SYMBOLIC)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${musl_qemu} -L ${musl_root})
endif()
