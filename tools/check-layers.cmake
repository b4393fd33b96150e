# The include check: every `#include "..."` of the product folders must point to the folder
# itself or to something cmake/Layers.cmake lets the folder call. Prints each offending line
# as FILE:LINE: and fails when there is one.
#
#   cmake -DSOURCE_DIR=<tree> [-DLAYERS=<table>] -P tools/check-layers.cmake
cmake_minimum_required(VERSION 3.25)
if(NOT SOURCE_DIR)
  message(FATAL_ERROR "usage: cmake -DSOURCE_DIR=<tree> [-DLAYERS=<file>] -P check-layers.cmake")
endif()
if(NOT LAYERS)
  set(LAYERS ${SOURCE_DIR}/cmake/Layers.cmake)
endif()
# The parser comes with the project's table; the tree's own table then says what holds there.
include(${CMAKE_CURRENT_LIST_DIR}/../cmake/Layers.cmake)
include(${LAYERS})

set(folders "")
foreach(entry ${KESTREL_LAYERS})
  kestrel_parse_layer("${entry}" folder library calls)
  list(APPEND folders ${folder})
  set(calls_of_${folder} ${calls})
endforeach()

# The folder of the table that `path` (relative to the tree) belongs to: the longest entry it
# lies in, or its first component when no entry holds it.
function(layer_of path out)
  set(best "")
  foreach(folder ${folders})
    string(LENGTH "${folder}" n)
    string(LENGTH "${best}" m)
    if((path STREQUAL folder OR path MATCHES "^${folder}/") AND n GREATER m)
      set(best ${folder})
    endif()
  endforeach()
  if(best STREQUAL "")
    string(REGEX REPLACE "/.*" "" best "${path}")
  endif()
  set(${out} ${best} PARENT_SCOPE)
endfunction()

set(offences 0)
set(files_checked 0)
foreach(folder ${folders})
  file(GLOB_RECURSE files RELATIVE ${SOURCE_DIR} LIST_DIRECTORIES false
       ${SOURCE_DIR}/${folder}/*.h ${SOURCE_DIR}/${folder}/*.cpp ${SOURCE_DIR}/${folder}/*.c
       ${SOURCE_DIR}/${folder}/*.S ${SOURCE_DIR}/${folder}/*.inc ${SOURCE_DIR}/${folder}/*.rc)
  foreach(file ${files})
    get_filename_component(dir ${file} DIRECTORY)
    layer_of(${dir} owner)
    if(NOT owner STREQUAL folder)
      continue()  # a subfolder with an entry of its own
    endif()
    math(EXPR files_checked "${files_checked} + 1")
    file(STRINGS ${SOURCE_DIR}/${file} lines)
    set(number 0)
    foreach(line IN LISTS lines)
      math(EXPR number "${number} + 1")
      if(NOT line MATCHES "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\"")
        continue()
      endif()
      set(target ${CMAKE_MATCH_1})
      if(NOT target MATCHES "/")
        continue()  # next to the including file
      endif()
      layer_of(${target} called)
      if(called STREQUAL folder)
        continue()
      endif()
      list(FIND calls_of_${folder} ${called} allowed_folder)
      list(FIND calls_of_${folder} ${target} allowed_header)
      if(allowed_folder EQUAL -1 AND allowed_header EQUAL -1)
        message("${file}:${number}: ${line}")
        message("    ${folder} may not call ${called} (cmake/Layers.cmake: ${folder} may call: ${calls_of_${folder}})")
        math(EXPR offences "${offences} + 1")
      endif()
    endforeach()
  endforeach()
endforeach()

if(offences GREATER 0)
  message(FATAL_ERROR "${offences} include(s) against the layering")
endif()
message("layers: ${files_checked} files, every include points downwards")
