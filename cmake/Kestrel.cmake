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
