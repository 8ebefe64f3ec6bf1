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
set(expected bin/packtool share/bash-completion/completions/packtool share/doc/Wiederherstellung/LICENSE
    share/fish/vendor_completions.d/packtool.fish share/man/man1/packtool.1 share/zsh/site-functions/_packtool)
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
        ".SS list\n.nf\nusage: packtool list" ".SS extract\n" ".SS verify\n" ".SS cat\n" ".SS compare\n"
        ".SH EXAMPLES\n.nf\n  packtool list" "  packtool compare backup.zip" ".SH EXIT STATUS\n.nf\n  0  success\n" "  8  compare: "
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
# The completions offer the commands the help names, and parse in bash.
file(READ ${PREFIX}/share/bash-completion/completions/packtool bash)
file(READ ${PREFIX}/share/zsh/site-functions/_packtool zsh)
file(READ ${PREFIX}/share/fish/vendor_completions.d/packtool.fish fish)
foreach(want "compare" "--missing-in")
  foreach(shell bash zsh fish)
    string(FIND "${${shell}}" "${want}" at)
    if(at EQUAL -1)
      message(FATAL_ERROR "the ${shell} completion lacks \"${want}\"")
    endif()
  endforeach()
endforeach()
find_program(BASH bash)
if(BASH)
  execute_process(COMMAND ${BASH} -n ${PREFIX}/share/bash-completion/completions/packtool RESULT_VARIABLE code)
  if(NOT code EQUAL 0)
    message(FATAL_ERROR "the bash completion does not parse")
  endif()
endif()
message(STATUS "installed: ${installed}")
