# Fails when a source includes a file by a relative path ("../x.h", "./x.h", "a/../b.h"): such an
# include gets past the include roots that keep each room and each window to its own headers.
#   cmake -DTOP=<source folder> -P CheckIncludes.cmake
file(GLOB_RECURSE sources RELATIVE ${TOP}
  ${TOP}/app/*.[ch]* ${TOP}/board/*.[ch]* ${TOP}/picture/*.[ch]* ${TOP}/runtime/*.[ch]*
  ${TOP}/tests/*.[ch]* ${TOP}/bench/*.[ch]* ${TOP}/fuzz/*.[ch]* ${TOP}/tools/*.[ch]*)
set(found "")
foreach(source IN LISTS sources)
  file(STRINGS ${TOP}/${source} lines REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]")
  foreach(line IN LISTS lines)
    if(line MATCHES "include[ \t]*[\"<](\\.\\.?/|[^\">]*/\\.\\.?/)")
      string(APPEND found "  ${source}: ${line}\n")
    endif()
  endforeach()
endforeach()
if(found)
  message(FATAL_ERROR "Includes by a relative path (name the file from an include root):\n${found}")
endif()
