# Writes packtool's man page from its own help texts, so that the page says
# what the program does without being kept in step by hand:
#   cmake -DPACKTOOL=path -DVERSION=x.y.z -DOUTPUT=packtool.1 -P make_man.cmake
foreach(var PACKTOOL VERSION OUTPUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "make_man.cmake: ${var} not given")
  endif()
endforeach()

function(help_text out)
  execute_process(COMMAND ${PACKTOOL} ${ARGN} OUTPUT_VARIABLE text RESULT_VARIABLE code)
  if(NOT code EQUAL 0 OR text STREQUAL "")
    message(FATAL_ERROR "make_man.cmake: \"packtool ${ARGN}\" failed (${code})")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Plain text as a no-fill block: backslashes and minus signs escaped, and a
# line that starts with a control character protected.
function(as_roff out text)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  set(${out} ".nf\n${text}.fi\n" PARENT_SCOPE)
endfunction()

help_text(general --help)

# The commands are the first words of the lines of the general help's
# "commands:" paragraph.
string(FIND "${general}" "\ncommands:\n" start)
if(start EQUAL -1)
  message(FATAL_ERROR "make_man.cmake: the help has no \"commands:\" paragraph")
endif()
string(SUBSTRING "${general}" ${start} -1 rest)
string(FIND "${rest}" "\n\n" end)
string(SUBSTRING "${rest}" 0 ${end} paragraph)
string(REGEX MATCHALL "\n  [a-z]+" heads "${paragraph}")
set(commands "")
foreach(head IN LISTS heads)
  string(STRIP "${head}" name)
  if(NOT name STREQUAL "help")
    list(APPEND commands ${name})
  endif()
endforeach()
list(REMOVE_DUPLICATES commands)

as_roff(page_general "${general}")
set(page ".TH PACKTOOL 1 \"\" \"Wiederherstellung ${VERSION}\" \"User Commands\"\n")
string(APPEND page ".SH NAME\npacktool \\- list, check and restore the files of a pack archive (a backup)\n")
string(APPEND page ".SH DESCRIPTION\n${page_general}")
string(APPEND page ".SH COMMANDS\n")
foreach(name IN LISTS commands)
  help_text(text help ${name})
  as_roff(block "${text}")
  string(APPEND page ".SS ${name}\n${block}")
endforeach()
string(APPEND page ".SH VERSION\npacktool ${VERSION}, part of Wiederherstellung.\n")
file(WRITE ${OUTPUT} "${page}")
