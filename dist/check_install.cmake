# `cmake --install` of a native build puts packtool, its man page and the
# licence under the prefix, and the installed packtool runs.
#   -DBUILD=build dir -DPREFIX=scratch prefix -DVERSION=x.y.z
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${PREFIX} RESULT_VARIABLE code OUTPUT_QUIET)
if(NOT code EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${code})")
endif()

file(GLOB_RECURSE installed RELATIVE ${PREFIX} ${PREFIX}/*)
list(SORT installed)
set(expected bin/packtool share/doc/Wiederherstellung/LICENSE share/man/man1/packtool.1)
if(NOT installed STREQUAL expected)
  message(FATAL_ERROR "installed: ${installed}\nexpected: ${expected}")
endif()

execute_process(COMMAND ${PREFIX}/bin/packtool --version OUTPUT_VARIABLE out RESULT_VARIABLE code)
if(NOT code EQUAL 0 OR NOT out STREQUAL "packtool ${VERSION}\n")
  message(FATAL_ERROR "installed packtool --version: exit ${code}, printed \"${out}\"")
endif()

# The page carries the version and a section for each command the help names.
file(READ ${PREFIX}/share/man/man1/packtool.1 page)
foreach(want ".TH PACKTOOL 1 \"\" \"Wiederherstellung ${VERSION}\"" ".SH NAME\npacktool \\- "
        ".SS list\n.nf\nusage: packtool list" ".SS extract\n" ".SS verify\n" ".SS cat\n"
        "\\-\\-version" "\\e")
  string(FIND "${page}" "${want}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "packtool.1 lacks \"${want}\"")
  endif()
endforeach()
# A help line that starts with a dot would be read as a request.
string(REGEX MATCHALL "\n[.'][^\n]*" requests "${page}")
foreach(line IN LISTS requests)
  if(NOT line MATCHES "^\n\\.(TH|SH|SS|nf|fi)( |$)")
    message(FATAL_ERROR "packtool.1 has a text line read as a request: ${line}")
  endif()
endforeach()
message(STATUS "installed: ${installed}")
