# packtool --version prints exactly "packtool <project version>" and succeeds;
# with an argument after it, it is a command-line error.
#   -DPACKTOOL=path [-DRUN=emulator] -DVERSION=x.y.z
execute_process(COMMAND ${RUN} ${PACKTOOL} --version OUTPUT_VARIABLE out RESULT_VARIABLE code)
if(NOT code EQUAL 0 OR NOT out STREQUAL "packtool ${VERSION}\n")
  message(FATAL_ERROR "packtool --version: exit ${code}, printed \"${out}\", want \"packtool ${VERSION}\"")
endif()
execute_process(COMMAND ${RUN} ${PACKTOOL} --version list OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE code)
if(NOT code EQUAL 1 OR NOT out STREQUAL "")
  message(FATAL_ERROR "packtool --version list: exit ${code} (want 1), printed \"${out}\"")
endif()
message(STATUS "packtool --version: ${VERSION}")
