# Fails when a Windows DLL's export table differs from the list of names it must export.
# Used where the test programs cannot run (the 32-bit Windows build), and as a build-time guard
# elsewhere. Run as:
#   cmake -DOBJDUMP=<objdump> -DLIBRARY=<dll> -DNAMES_HEADER=<exported_names.h> -P check-exports.cmake
execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY} OUTPUT_VARIABLE dump RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} could not read ${LIBRARY}")
endif()

# The names follow objdump's "[Ordinal/Name Pointer] Table" line, one "[   n] NAME" per line.
set(exported "")
set(inTable FALSE)
string(REPLACE "\n" ";" lines "${dump}")
foreach(line IN LISTS lines)
  if(line MATCHES "\\[Ordinal/Name Pointer\\] Table")
    set(inTable TRUE)
  elseif(inTable AND line MATCHES "^[ \t]*\\[ *[0-9]+\\] (.+)$")
    list(APPEND exported "${CMAKE_MATCH_1}")
  elseif(inTable)
    set(inTable FALSE)
  endif()
endforeach()
# Entries reachable by ordinal only would leave the library as well: every address in the
# table must have a name.
if(dump MATCHES "Number in:[ \t]*\n[ \t]*Export Address Table[ \t]*([0-9a-fA-F]+)\n[ \t]*\\[Name Pointer/Ordinal\\] Table[ \t]*([0-9a-fA-F]+)")
  if(NOT CMAKE_MATCH_1 STREQUAL CMAKE_MATCH_2)
    message(FATAL_ERROR "${LIBRARY} exports ${CMAKE_MATCH_1} addresses but only ${CMAKE_MATCH_2} names")
  endif()
elseif(exported)
  message(FATAL_ERROR "cannot read the export counts of ${LIBRARY}")
endif()

file(READ ${NAMES_HEADER} header)
string(REGEX MATCH "kExportedNames = {([^}]*)}" block "${header}")
string(REGEX MATCHALL "\"[^\"]+\"" quoted "${CMAKE_MATCH_1}")
set(expected "")
foreach(name IN LISTS quoted)
  string(REPLACE "\"" "" name "${name}")
  list(APPEND expected "${name}")
endforeach()
if(NOT expected)
  message(FATAL_ERROR "no names found in ${NAMES_HEADER}")
endif()

list(SORT exported)
list(SORT expected)
if(NOT exported STREQUAL expected)
  message(FATAL_ERROR "${LIBRARY} exports [${exported}] but must export exactly [${expected}]")
endif()
