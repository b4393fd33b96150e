# Helpers shared by the folders.

# kestrel_add_test(NAME src... [LABELS l...] [LIBS lib...] [FIXTURES f...])
# One GoogleTest program per component suite. On host every test case becomes a CTest test;
# under win32 the whole program is one CTest test run under Wine (discovery under Wine is slow).
function(kestrel_add_test name)
  cmake_parse_arguments(T "" "" "LABELS;LIBS;FIXTURES" ${ARGN})
  add_executable(${name} ${T_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE kestrel_core kestrel_testing ${T_LIBS} GTest::gmock GTest::gtest_main)
  if(NOT T_LABELS)
    set(T_LABELS fast)
  endif()
  if(KESTREL_WIN32)
    add_test(NAME ${name} COMMAND ${name})
    if(T_FIXTURES)
      set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED "${T_FIXTURES}")
    endif()
    set_tests_properties(${name} PROPERTIES LABELS "win32;${T_LABELS}" TIMEOUT 600
                         ENVIRONMENT
                         "KESTREL_SOURCE_DIR=${CMAKE_SOURCE_DIR};KESTREL_BINARY_DIR=${CMAKE_BINARY_DIR};KESTREL_MESSAGE_BOX=no")
  else()
    include(GoogleTest)
    set(fixture_properties)
    if(T_FIXTURES)
      set(fixture_properties FIXTURES_REQUIRED "${T_FIXTURES}")
    endif()
    # The fixtures come first: the ENVIRONMENT list must stay the last property.
    gtest_discover_tests(${name} PROPERTIES ${fixture_properties} LABELS "${T_LABELS}" ENVIRONMENT "KESTREL_SOURCE_DIR=${CMAKE_SOURCE_DIR};KESTREL_BINARY_DIR=${CMAKE_BINARY_DIR}"
                         DISCOVERY_TIMEOUT 60)
  endif()
endfunction()

include(${CMAKE_CURRENT_LIST_DIR}/Layers.cmake)

# The entry of cmake/Layers.cmake for FOLDER: its library and what it may call.
function(kestrel_layer_of folder out_library out_calls)
  foreach(entry ${KESTREL_LAYERS})
    kestrel_parse_layer("${entry}" name library calls)
    if(name STREQUAL folder)
      set(${out_library} ${library} PARENT_SCOPE)
      set(${out_calls} ${calls} PARENT_SCOPE)
      return()
    endif()
  endforeach()
  message(FATAL_ERROR "${folder} has no entry in cmake/Layers.cmake")
endfunction()

# An include root that holds the folder itself and what it may call, and nothing else: the
# folder's sources are compiled against it alone, so a header of a folder it may not call is
# simply not found. Items are links into the source tree; a folder already linked whole covers
# its subfolders and headers.
function(kestrel_include_root folder calls out_root)
  string(REPLACE "/" "_" tag "${folder}")
  set(root ${CMAKE_BINARY_DIR}/layers/${tag})
  file(REMOVE_RECURSE ${root})
  set(items ${folder} ${calls})
  list(REMOVE_DUPLICATES items)
  # Shorter paths first, so that a folder is linked before anything inside it is considered.
  set(ordered "")
  foreach(depth RANGE 0 4)
    foreach(item ${items})
      string(REGEX MATCHALL "/" slashes "${item}")
      list(LENGTH slashes n)
      if(n EQUAL depth)
        list(APPEND ordered ${item})
      endif()
    endforeach()
  endforeach()
  set(linked "")
  foreach(item ${ordered})
    set(covered FALSE)
    foreach(done ${linked})
      string(FIND "${item}/" "${done}/" at)
      if(at EQUAL 0)
        set(covered TRUE)
      endif()
    endforeach()
    if(covered)
      continue()
    endif()
    get_filename_component(parent ${root}/${item} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${item} ${root}/${item} SYMBOLIC)
    list(APPEND linked ${item})
  endforeach()
  set(${out_root} ${root} PARENT_SCOPE)
endfunction()

# kestrel_layer_library(FOLDER SOURCES src... [LIBS external...])
# The static library of a product folder, from its explicit source list: compiled against the
# folder's include root, linked with the libraries of the folders it may call. A library that
# spans several folders (the platform) is made by one call per folder in one CMakeLists.txt.
function(kestrel_layer_library folder)
  cmake_parse_arguments(L "" "" "SOURCES;LIBS" ${ARGN})
  kestrel_layer_of(${folder} library calls)
  if(TARGET ${library})
    target_sources(${library} PRIVATE ${L_SOURCES})
  else()
    add_library(${library} STATIC ${L_SOURCES})
  endif()
  kestrel_include_root(${folder} "${calls}" root)
  # Per source, not per target: a library that spans folders (the platform) compiles each
  # folder's sources against that folder's root only, so every header has one path.
  set_source_files_properties(${L_SOURCES} PROPERTIES INCLUDE_DIRECTORIES ${root})
  foreach(item ${calls})
    if(item MATCHES "\\.h$")
      continue()
    endif()
    kestrel_layer_of(${item} dependency unused)
    if(NOT dependency STREQUAL "-" AND NOT dependency STREQUAL library AND TARGET ${dependency})
      target_link_libraries(${library} PUBLIC ${dependency})
    endif()
  endforeach()
  if(L_LIBS)
    target_link_libraries(${library} PUBLIC ${L_LIBS})
  endif()
endfunction()

# The HttpServers fixture: the web servers of tests/support/http_servers.py on 127.0.0.1, started
# before the first test that requires the fixture and stopped after the last, also when tests fail.
function(kestrel_add_http_servers_fixture)
  find_program(KESTREL_PYTHON3 python3 PATHS /usr/bin NO_DEFAULT_PATH)
  if(NOT KESTREL_PYTHON3)
    set(KESTREL_PYTHON3 /usr/bin/python3)
  endif()
  set(script ${CMAKE_SOURCE_DIR}/tests/support/http_servers.py)
  set(state ${CMAKE_BINARY_DIR}/http-servers)
  # The test programs find the servers' folder and ports there (under Wine on drive Z:).
  target_compile_definitions(kestrel_testing PRIVATE KESTREL_HTTP_SERVERS_DIR="${state}")
  add_test(NAME HttpServersStart COMMAND ${KESTREL_PYTHON3} ${script} start ${state})
  add_test(NAME HttpServersStop COMMAND ${KESTREL_PYTHON3} ${script} stop ${state})
  set_tests_properties(HttpServersStart PROPERTIES FIXTURES_SETUP HttpServers)
  set_tests_properties(HttpServersStop PROPERTIES FIXTURES_CLEANUP HttpServers)
endfunction()
