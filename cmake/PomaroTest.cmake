# Test helpers. In the Windows build every test program runs under Wine (tools/wine-run) in the test
# prefix that the fixture "wine" creates, with the Xvfb display that the same fixture starts.
set(POMARO_WINE_DIR "${CMAKE_BINARY_DIR}/wine")
if(WIN32 AND CMAKE_CROSSCOMPILING)
  add_test(NAME wine_setup COMMAND "${PROJECT_SOURCE_DIR}/tools/wine-env.sh" setup "${POMARO_WINE_DIR}")
  set_tests_properties(wine_setup PROPERTIES FIXTURES_SETUP wine TIMEOUT 300)
  add_test(NAME wine_cleanup COMMAND "${PROJECT_SOURCE_DIR}/tools/wine-env.sh" cleanup "${POMARO_WINE_DIR}")
  set_tests_properties(wine_cleanup PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 60)
endif()

# Properties every test that runs Windows code needs.
function(pomaro_wine_test test)
  if(WIN32 AND CMAKE_CROSSCOMPILING)
    set_property(TEST ${test} APPEND PROPERTY FIXTURES_REQUIRED wine)
    set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT
      "POMARO_WINE_DIR=${POMARO_WINE_DIR}" "WINEPREFIX=${POMARO_WINE_DIR}/prefix" "WINEDEBUG=-all")
  endif()
endfunction()

# pomaro_add_gtest(<name> SOURCES ... [LIBS ...] [TIMEOUT s]): a GoogleTest program, one ctest test.
function(pomaro_add_gtest name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS" TIMEOUT 300 ${ARGN}) # the caller's TIMEOUT comes later and wins
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} gtest_main)
  pomaro_warnings(${name})
  add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT})
  pomaro_wine_test(${name})
endfunction()

# pomaro_add_e2e(<name> SCRIPT file.py [TIMEOUT s]): an end-to-end test in Python with tools/e2e/pomaro_e2e.py.
function(pomaro_add_e2e name)
  cmake_parse_arguments(T "" "SCRIPT;TIMEOUT" "" TIMEOUT 300 ${ARGN})
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  add_test(NAME ${name} COMMAND ${Python3_EXECUTABLE} "${T_SCRIPT}")
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS e2e
    ENVIRONMENT "PYTHONPATH=${PROJECT_SOURCE_DIR}/tools/e2e;POMARO_BIN_DIR=${POMARO_BIN_DIR};POMARO_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
  pomaro_wine_test(${name})
endfunction()
