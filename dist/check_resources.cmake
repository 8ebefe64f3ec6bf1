# Reads the resources back out of the built programs with the MinGW and icon
# tools: each carries the project's version, product name, description and
# copyright, and the restore tool carries its icon as group 1 (the window
# class loads it by that number), byte for byte the checked-in one. Each is
# marked large address aware (it holds a whole entry in memory).
#   -DWINDRES=windres -DWRESTOOL=wrestool -DOBJDUMP=objdump -DVERSION=x.y.z
#   -DWORK=scratch folder -DPROGRAMS=restore tool|packtool -DICON=the .ico file
string(REPLACE "|" ";" PROGRAMS "${PROGRAMS}")
string(REPLACE "." ", " numbers "${VERSION}")
file(MAKE_DIRECTORY ${WORK})

foreach(program IN LISTS PROGRAMS)
  get_filename_component(name ${program} NAME)
  execute_process(COMMAND ${WINDRES} -i ${program} -O rc -o ${WORK}/${name}.rc RESULT_VARIABLE code)
  if(NOT code EQUAL 0)
    message(FATAL_ERROR "${name}: windres cannot read its resources (${code})")
  endif()
  file(READ ${WORK}/${name}.rc resources)
  foreach(want "FILEVERSION ${numbers}, 0" "PRODUCTVERSION ${numbers}, 0"
          "VALUE \"FileVersion\", \"${VERSION}\"" "VALUE \"ProductVersion\", \"${VERSION}\""
          "VALUE \"ProductName\", \"Wiederherstellung\"" "VALUE \"OriginalFilename\", \"${name}\""
          "VALUE \"FileDescription\", \"" "VALUE \"LegalCopyright\", \"Copyright ")
    string(FIND "${resources}" "${want}" at)
    if(at EQUAL -1)
      message(FATAL_ERROR "${name}: the version resource lacks ${want}")
    endif()
  endforeach()
  execute_process(COMMAND ${OBJDUMP} -p ${program} OUTPUT_VARIABLE header RESULT_VARIABLE code)
  if(NOT code EQUAL 0 OR NOT header MATCHES "large address aware")
    message(FATAL_ERROR "${name}: not marked large address aware")
  endif()
  string(REGEX MATCH "VALUE \"FileDescription\", \"([^\"]*)\"" description "${resources}")
  message(STATUS "${name}: ${CMAKE_MATCH_1}, version ${VERSION}")
endforeach()

list(GET PROGRAMS 0 program)
if(NOT WRESTOOL)
  message(FATAL_ERROR "wrestool not found: run scripts/setup (Debian package icoutils)")
endif()
execute_process(COMMAND ${WRESTOOL} -x --type=14 --name=1 -o ${WORK}/icon.ico ${program} RESULT_VARIABLE code)
if(NOT code EQUAL 0 OR NOT EXISTS ${WORK}/icon.ico)
  message(FATAL_ERROR "${program}: no icon group 1")
endif()
# wrestool pads the rebuilt file at its end; everything up to there must match.
file(SIZE ${ICON} size)
file(READ ${ICON} want HEX)
file(READ ${WORK}/icon.ico got LIMIT ${size} HEX)
if(NOT got STREQUAL want)
  message(FATAL_ERROR "${program}: icon group 1 is not ${ICON}")
endif()
message(STATUS "icon: ${size} bytes, as checked in")
