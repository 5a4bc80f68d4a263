# Shared by the toolchain files of firmware ABIs: the toolchain that cmake/sysroot makes
# for the ABI, kept in CLIENTMAC_TOOLCHAINS (by default in the build tree) and run under
# qemu-user in its own root. The including file sets firmware_triple, firmware_processor
# and firmware_qemu (the qemu-user program; "" to run the result as it is), and may set
# firmware_flags, for the compiler.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${firmware_processor})

# CMake's trial builds read this file again in trees of their own: they share the cache.
set(CLIENTMAC_TOOLCHAINS ${CMAKE_BINARY_DIR}/toolchains CACHE PATH
  "Where the firmware toolchains are made and kept")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES CLIENTMAC_TOOLCHAINS)
execute_process(COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/../sysroot ${firmware_triple}
  ${CLIENTMAC_TOOLCHAINS} RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "cannot make the toolchain for ${firmware_triple}")
endif()
set(toolchain ${CLIENTMAC_TOOLCHAINS}/${firmware_triple})
set(CMAKE_C_COMPILER ${toolchain}/bin/${firmware_triple}-gcc)
set(CMAKE_CXX_COMPILER ${toolchain}/bin/${firmware_triple}-g++)
set(CMAKE_C_FLAGS_INIT "${firmware_flags}")
set(CMAKE_CXX_FLAGS_INIT "${firmware_flags}")
# Firmware's flash budget is counted in bytes whatever the build type, and no firmware
# ships debug symbols to find by the build-id note.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,--build-id=none")

set(CMAKE_FIND_ROOT_PATH ${toolchain}/root)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

if(firmware_qemu)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${firmware_qemu} -L ${toolchain}/root)
endif()
