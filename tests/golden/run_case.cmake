# Runs one golden case:
#   cmake -DSARVIK=<program> -DCASE_DIR=<case> -DDATA_DIR=<tests/data> -DWORK_DIR=<scratch>
#         [-DTHREADS=<n>] -P run_case.cmake
# The Windows build runs the same cases under wine: -DEMULATOR=<wine> and
# -DSETTINGS_LINE=ON, since that build prints its settings after a successful
# parse, before the lines the Linux build prints.
# THREADS other than 1 runs the case with -threads <n> before its arguments.
#
# A case folder holds:
#   args             the command line, one argument per line
#   expected.stdout  standard output, byte for byte
#   expected.status  exit status (0 when the file is missing)
#   expected.stderr  standard error, byte for byte (when missing: empty for a
#                    run with status 0)
#   expected/        every output file the run must leave, byte for byte
#   expected.tar.gz  the same for large expected files, packed
#   inputs           optional: files of tests/data to copy in, one name per line
#   anything else    input files, copied into the scratch folder before the run
# No scratch or temporary file may remain after the run.

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
file(GLOB inputs LIST_DIRECTORIES false ${CASE_DIR}/*)
foreach(f IN LISTS inputs)
  get_filename_component(n ${f} NAME)
  if(NOT n MATCHES "^(args|inputs|expected\\..*|README\\.md)$")
    file(COPY ${f} DESTINATION ${WORK_DIR})
  endif()
endforeach()
if(EXISTS ${CASE_DIR}/inputs)
  file(STRINGS ${CASE_DIR}/inputs shared_inputs)
  foreach(n IN LISTS shared_inputs)
    file(COPY ${DATA_DIR}/${n} DESTINATION ${WORK_DIR})
  endforeach()
endif()

file(STRINGS ${CASE_DIR}/args arguments)
if(THREADS AND NOT THREADS EQUAL 1)
  list(PREPEND arguments -threads ${THREADS})
endif()
execute_process(COMMAND ${EMULATOR} ${SARVIK} ${arguments}
  WORKING_DIRECTORY ${WORK_DIR}
  OUTPUT_FILE ${WORK_DIR}/actual.stdout
  ERROR_VARIABLE err
  RESULT_VARIABLE status)

# Progress lines, which a run prints on a standard error that is no terminal
# once it has run long enough, are no output.
string(REGEX REPLACE "Sarvik progress: [^\n]*\n" "" err "${err}")

set(expected_status 0)
if(EXISTS ${CASE_DIR}/expected.status)
  file(STRINGS ${CASE_DIR}/expected.status expected_status)
endif()
set(failures "")
if(NOT "${status}" STREQUAL "${expected_status}")
  string(APPEND failures "exit status ${status}, expected ${expected_status}\n")
endif()
# Progress lines that a long run prints on standard error every 10 seconds
# ("length ...") are no part of the comparison.
string(REGEX REPLACE "(^|\n)length [^\n]*\n" "\\1" err "${err}")
if(EXISTS ${CASE_DIR}/expected.stderr)
  file(READ ${CASE_DIR}/expected.stderr expected_err)
  if(NOT err STREQUAL expected_err)
    string(APPEND failures "standard error: ${err}\nexpected: ${expected_err}\n")
  endif()
elseif(err AND NOT "${expected_status}" STREQUAL "1")
  string(APPEND failures "unexpected standard error: ${err}\n")
endif()

macro(compare expected actual what)
  if(NOT EXISTS ${actual})
    string(APPEND failures "${what}: missing\n")
  else()
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${expected} ${actual}
      RESULT_VARIABLE differ)
    if(differ)
      string(APPEND failures "${what}: differs (diff ${expected} ${actual})\n")
    endif()
  endif()
endmacro()

set(expected_stdout ${CASE_DIR}/expected.stdout)
if(SETTINGS_LINE)
  # "mint = %d,maxt = %d,freqt = %d,option = %s,opt = %d,outfile = %s,filestub = %s"
  # from the options of args and their defaults.
  set(lmin 1)
  set(lmax 7)
  set(fmin 1)
  set(ds QZ)
  list(POP_BACK arguments filestub)
  # The default stem: up to the first '.' of the last path component.
  string(REGEX REPLACE "^(([^/\\]*[/\\])*[^./\\]*)\\..*$" "\\1" ofile "${filestub}")
  while(NOT arguments STREQUAL "")
    list(POP_FRONT arguments a)
    if(a MATCHES "^-(ds|lmin|lmax|fmin|ofile|dspace|threads)$")
      list(POP_FRONT arguments ${CMAKE_MATCH_1})
    endif()
  endwhile()
  set(types QZ TF PF)
  list(FIND types ${ds} opt)
  math(EXPR opt "${opt} + 1")
  file(READ ${expected_stdout} lines)
  set(expected_stdout ${WORK_DIR}.stdout)
  file(WRITE ${expected_stdout} "mint = ${lmin},maxt = ${lmax},freqt = ${fmin},option = ${ds},"
    "opt = ${opt},outfile = ${ofile},filestub = ${filestub}\n${lines}")
endif()
compare(${expected_stdout} ${WORK_DIR}/actual.stdout "standard output")
file(GLOB expected_files LIST_DIRECTORIES false RELATIVE ${CASE_DIR}/expected ${CASE_DIR}/expected/*)
foreach(n IN LISTS expected_files)
  compare(${CASE_DIR}/expected/${n} ${WORK_DIR}/${n} "${n}")
endforeach()
if(EXISTS ${CASE_DIR}/expected.tar.gz)
  set(unpacked ${WORK_DIR}.expected)
  file(REMOVE_RECURSE ${unpacked})
  file(ARCHIVE_EXTRACT INPUT ${CASE_DIR}/expected.tar.gz DESTINATION ${unpacked})
  file(GLOB packed_files LIST_DIRECTORIES false RELATIVE ${unpacked} ${unpacked}/*)
  if(NOT packed_files)
    string(APPEND failures "expected.tar.gz holds no file\n")
  endif()
  foreach(n IN LISTS packed_files)
    compare(${unpacked}/${n} ${WORK_DIR}/${n} "${n}")
  endforeach()
endif()
# Whatever the status, no scratch or temporary file may remain.
file(GLOB_RECURSE leftovers ${WORK_DIR}/*.dict ${WORK_DIR}/*.tmp*)
if(leftovers)
  string(APPEND failures "scratch or temporary file left behind: ${leftovers}\n")
endif()

if(failures)
  message(FATAL_ERROR "golden case ${CASE_DIR}:\n${failures}")
endif()
