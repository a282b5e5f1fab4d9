# The committed random normals must be exactly what the independent model
# makes of them.
#   cmake -DPYTHON=python3 -DSCRIPT=expected_normals.py -DCOMMITTED=random_normals.txt -DFRESH=out.txt -P check_normals_data.cmake
execute_process(COMMAND ${PYTHON} ${SCRIPT} --random OUTPUT_FILE ${FRESH} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${SCRIPT} failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${COMMITTED} ${FRESH} RESULT_VARIABLE differs)
if(differs)
  message(FATAL_ERROR "${COMMITTED} is not what ${SCRIPT} --random makes; run it again")
endif()
