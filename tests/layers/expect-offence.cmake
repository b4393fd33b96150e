# Runs the include check on the fixture tree, where low/low.cpp includes a header of the folder
cmake_minimum_required(VERSION 3.25)
# above it: the check must fail and print that line.
execute_process(COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${FIXTURE} -P ${CHECK}
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
set(all "${out}${err}")
if(result EQUAL 0)
  message(FATAL_ERROR "the check passed a tree with an upward include:\n${all}")
endif()
string(FIND "${all}" "low/low.cpp:2: #include \"high/high.h\"" at)
if(at EQUAL -1)
  message(FATAL_ERROR "the check did not name the offending line:\n${all}")
endif()
string(FIND "${all}" "high/high.h:" downward)
if(NOT downward EQUAL -1)
  message(FATAL_ERROR "the check refused a downward include:\n${all}")
endif()
message("the upward include was refused with its line")
