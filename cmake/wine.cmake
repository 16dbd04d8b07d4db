# Windows builds run their tests under wine: CTest and test discovery start every Windows
# program through wine-run.sh, which keeps a wine prefix inside the build tree.
find_program(VESK1_WINE wine REQUIRED)
find_program(VESK1_WINESERVER NAMES wineserver wineserver64
  PATHS /usr/lib/wine /usr/lib/x86_64-linux-gnu/wine REQUIRED)
set(VESK1_WINE_PREFIX ${CMAKE_BINARY_DIR}/wine-prefix)
configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run.sh
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
  WORLD_READ WORLD_EXECUTE @ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run.sh)

# Creating the prefix takes wine several seconds; do it once here rather than inside the first
# test's time limit.
if(NOT EXISTS ${VESK1_WINE_PREFIX}/system.reg)
  message(STATUS "Creating the wine prefix ${VESK1_WINE_PREFIX}")
  execute_process(COMMAND ${CMAKE_BINARY_DIR}/wine-run.sh cmd /c exit 0
    RESULT_VARIABLE wineResult OUTPUT_QUIET ERROR_QUIET TIMEOUT 300)
  if(NOT wineResult EQUAL 0)
    message(FATAL_ERROR "wine could not create its prefix (${wineResult})")
  endif()
endif()
