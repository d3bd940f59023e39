# Runs the check flavour and the normal build on one input:
#   cmake -DCHECKED=<Sarvik_checked> -DSARVIK=<Sarvik> -DINPUT=<file> -DWORK_DIR=<dir>
#         -DARGS=<options;...> -P check_mode.cmake
# Both must succeed with identical standard output and output files, and the
# checked run must have met numbering-dependent forms (the individualisation
# search), so that the check covers them.
file(REMOVE_RECURSE ${WORK_DIR})
get_filename_component(name ${INPUT} NAME)
set(failures "")
foreach(flavour checked normal)
  file(MAKE_DIRECTORY ${WORK_DIR}/${flavour})
  file(COPY ${INPUT} DESTINATION ${WORK_DIR}/${flavour})
endforeach()
execute_process(COMMAND ${CHECKED} ${ARGS} ${name}
  WORKING_DIRECTORY ${WORK_DIR}/checked
  OUTPUT_FILE ${WORK_DIR}/checked/stdout.txt
  ERROR_VARIABLE checked_err
  RESULT_VARIABLE checked_status)
execute_process(COMMAND ${SARVIK} ${ARGS} ${name}
  WORKING_DIRECTORY ${WORK_DIR}/normal
  OUTPUT_FILE ${WORK_DIR}/normal/stdout.txt
  RESULT_VARIABLE normal_status)
if(NOT checked_status EQUAL 0 OR NOT normal_status EQUAL 0)
  string(APPEND failures "status: checked ${checked_status}, normal ${normal_status}\n${checked_err}\n")
endif()
if(NOT checked_err MATCHES "self-check: [1-9][0-9]* sets, [1-9][0-9]* with a numbering-dependent form")
  string(APPEND failures "no numbering-dependent form was checked: ${checked_err}\n")
endif()
file(GLOB outputs LIST_DIRECTORIES false RELATIVE ${WORK_DIR}/normal ${WORK_DIR}/normal/*)
foreach(n IN LISTS outputs)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files
    ${WORK_DIR}/normal/${n} ${WORK_DIR}/checked/${n} RESULT_VARIABLE differ)
  if(differ)
    string(APPEND failures "${n} differs between the flavours\n")
  endif()
endforeach()
if(failures)
  message(FATAL_ERROR "check mode on ${INPUT}:\n${failures}")
endif()
message(STATUS "${checked_err}")
