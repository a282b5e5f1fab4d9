# Checks that a committed file is exactly what its generator makes of it now.
#   cmake "-DGENERATE=program|arg|..." -DCOMMITTED=file -DFRESH=file -P check_generated.cmake
# The generator writes FRESH: as its last argument when WRITES_ITSELF is set,
# otherwise on its standard output.
string(REPLACE "|" ";" generate "${GENERATE}")
if(WRITES_ITSELF)
  execute_process(COMMAND ${generate} ${FRESH} RESULT_VARIABLE status)
else()
  execute_process(COMMAND ${generate} OUTPUT_FILE ${FRESH} RESULT_VARIABLE status)
endif()
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${GENERATE} failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${COMMITTED} ${FRESH} RESULT_VARIABLE differs)
if(differs)
  message(FATAL_ERROR "${COMMITTED} is not what ${GENERATE} makes; make it again")
endif()
