# 64-bit Windows with Debian's mingw-w64 cross compilers. The posix thread model gives the C++
# runtime its threads and atomic waits; everything is linked statically so that the programs
# and DLLs run on a bare Windows (or under wine) without the compiler's runtime DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VESK1_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
