# Shared by the mingw-w64 toolchain files; VESK1_MINGW_TRIPLE names the target.
set(CMAKE_C_COMPILER ${VESK1_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VESK1_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VESK1_MINGW_TRIPLE}-windres)
set(CMAKE_OBJDUMP ${VESK1_MINGW_TRIPLE}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${VESK1_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No runtime DLLs beside our binaries: libgcc, libstdc++ and winpthread go into each one.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
