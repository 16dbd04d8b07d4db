# What `cmake --install` and CPack ship: the two programs, the library and the sounding module,
# the public headers, a CMake package and pkg-config files for library callers and module
# authors, and the README and licence.
#
# Linux: bin/vesk1_pipe, bin/vesk1_client; lib/vesk1/vesk1_fdll.so and lib/vesk1/vesk1_chzd.so
# (a private folder, as callers and the server load them by these exact names).
# Windows: every .exe and .dll side by side in bin/, so the folder runs as it is; the import
# library of vesk1_fdll in lib/.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

if(WIN32)
  set(VESK1_INSTALL_MODULEDIR ${CMAKE_INSTALL_BINDIR})
else()
  set(VESK1_INSTALL_MODULEDIR ${CMAKE_INSTALL_LIBDIR}/vesk1)
endif()
set(VESK1_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/vesk1)
set(VESK1_INSTALL_PKGCONFIGDIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# For module authors: the record and module header, nothing to link.
add_library(vesk1_module_api INTERFACE)
target_include_directories(vesk1_module_api INTERFACE
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
  $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
set_target_properties(vesk1_module_api PROPERTIES EXPORT_NAME module)
add_library(vesk1::module ALIAS vesk1_module_api)

# For library callers: the header with the shared library.
target_include_directories(vesk1_fdll INTERFACE
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
  $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
set_target_properties(vesk1_fdll PROPERTIES EXPORT_NAME fdll)
add_library(vesk1::fdll ALIAS vesk1_fdll)

install(TARGETS vesk1_pipe vesk1_client RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS vesk1_chzd LIBRARY DESTINATION ${VESK1_INSTALL_MODULEDIR})
install(TARGETS vesk1_fdll vesk1_module_api EXPORT vesk1Targets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${VESK1_INSTALL_MODULEDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
if(NOT WIN32)
  # Inverting many soundings at once, on this machine or several (GNU parallel, Slurm).
  install(PROGRAMS scripts/invert-many.sh DESTINATION ${CMAKE_INSTALL_BINDIR}
    RENAME vesk1_invert_many)
endif()
install(FILES include/vesk1/module.h include/vesk1/fdll.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/vesk1)
install(FILES README.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The CMake package: every path in it is relative to the folder it is installed in.
install(EXPORT vesk1Targets NAMESPACE vesk1:: DESTINATION ${VESK1_INSTALL_CMAKEDIR})
configure_package_config_file(cmake/package/vesk1Config.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/package/vesk1Config.cmake
  INSTALL_DESTINATION ${VESK1_INSTALL_CMAKEDIR}
  PATH_VARS CMAKE_INSTALL_BINDIR VESK1_INSTALL_MODULEDIR)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/package/vesk1ConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/package/vesk1Config.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/package/vesk1ConfigVersion.cmake
  DESTINATION ${VESK1_INSTALL_CMAKEDIR})

# pkg-config: vesk1 for library callers, vesk1-module for module authors. The prefix is found
# from the .pc file's own place, so a moved install still works.
file(RELATIVE_PATH VESK1_PC_TO_PREFIX /${VESK1_INSTALL_PKGCONFIGDIR} /)
string(REGEX REPLACE "/$" "" VESK1_PC_TO_PREFIX "${VESK1_PC_TO_PREFIX}")
if(WIN32)
  set(VESK1_PC_LIBS "-L\${libdir} -lvesk1_fdll")
else()
  # The library keeps its bare file name, so the linker is given that name; the run path lets
  # a program find it in the private folder without LD_LIBRARY_PATH.
  set(VESK1_PC_LIBS "-L\${moduledir} -l:vesk1_fdll.so -Wl,-rpath,\${moduledir}")
endif()
foreach(pc vesk1 vesk1-module)
  configure_file(cmake/package/${pc}.pc.in ${CMAKE_CURRENT_BINARY_DIR}/package/${pc}.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/package/${pc}.pc
    DESTINATION ${VESK1_INSTALL_PKGCONFIGDIR})
endforeach()

# CPack: a .deb on Linux, a .zip of the Windows build.
set(CPACK_PACKAGE_NAME vesk1)
set(CPACK_PACKAGE_VENDOR "the vesk1 developers")
set(CPACK_PACKAGE_CONTACT "the vesk1 developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Pipe compute server, numerical library and sounding module for geophysical modelling")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_SYSTEM_NAME win64)
  else()
    set(CPACK_SYSTEM_NAME win32)
  endif()
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_STRIP_FILES ON)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION science)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # vesk1_invert_many runs its jobs with GNU parallel, and sends them to other machines with
  # rsync over ssh.
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "parallel, rsync")
endif()
include(CPack)
