# 32-bit Windows with Debian's mingw-w64 cross compilers: the target whose pointers are 4 bytes,
# where the worker slot's layout is pinned byte for byte. Compiled only; nothing runs it here.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VESK1_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# GCC 12 reports a false overlap in std::string concatenation when it inlines it for 32-bit
# targets (GCC bug 105651, fixed in GCC 13); the warning says nothing about our code there.
set(CMAKE_CXX_FLAGS_INIT "-Wno-restrict")
