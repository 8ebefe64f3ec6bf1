# The checked-in icon is what its generator draws: an edit to either alone
# shows here.
#   -DPYTHON=python3 -DSOURCE=app folder -DWORK=scratch folder
file(MAKE_DIRECTORY ${WORK})
execute_process(COMMAND ${PYTHON} ${SOURCE}/make_icon.py ${WORK}/Wiederherstellung.ico RESULT_VARIABLE code)
if(NOT code EQUAL 0)
  message(FATAL_ERROR "make_icon.py failed (${code})")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK}/Wiederherstellung.ico
                        ${SOURCE}/Wiederherstellung.ico RESULT_VARIABLE differs)
if(differs)
  message(FATAL_ERROR "app/Wiederherstellung.ico differs from what make_icon.py draws: run it again")
endif()
