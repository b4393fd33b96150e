# Helpers shared by the folders.

# kestrel_add_test(NAME src... [LABELS l...] [LIBS lib...])
# One GoogleTest program per component suite. On host every test case becomes a CTest test;
# under win32 the whole program is one CTest test run under Wine (discovery under Wine is slow).
function(kestrel_add_test name)
  cmake_parse_arguments(T "" "" "LABELS;LIBS" ${ARGN})
  add_executable(${name} ${T_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE kestrel_core kestrel_testing ${T_LIBS} GTest::gmock GTest::gtest_main)
  if(NOT T_LABELS)
    set(T_LABELS fast)
  endif()
  if(KESTREL_WIN32)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES LABELS "win32;${T_LABELS}" TIMEOUT 600
                         ENVIRONMENT
                         "KESTREL_SOURCE_DIR=${CMAKE_SOURCE_DIR};KESTREL_BINARY_DIR=${CMAKE_BINARY_DIR};KESTREL_MESSAGE_BOX=no")
  else()
    include(GoogleTest)
    gtest_discover_tests(${name} PROPERTIES LABELS "${T_LABELS}" ENVIRONMENT "KESTREL_SOURCE_DIR=${CMAKE_SOURCE_DIR};KESTREL_BINARY_DIR=${CMAKE_BINARY_DIR}"
                         DISCOVERY_TIMEOUT 60)
  endif()
endfunction()
