# qor_add_test(NAME name SOURCES a.cc b.cc LIBS lib1 lib2)
# Builds one GoogleTest executable and registers its tests with CTest.
# The test's working directory is its build folder; QOR_TEST_DATA points at
# the folder "tests/data" beside the calling CMakeLists.txt.
include(GoogleTest)
function(qor_add_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS" ${ARGN})
  if(NOT QOR_TESTS)
    return()
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} qor_testing GTest::gtest GTest::gtest_main)
  target_compile_definitions(${T_NAME} PRIVATE
    QOR_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/tests/data"
    QOR_BIN_DIR="${CMAKE_BINARY_DIR}/bin")
  # The program name prefixes every test name, so equal test names in two
  # programs stay two tests.
  gtest_discover_tests(${T_NAME} WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR} DISCOVERY_TIMEOUT 60
                       TEST_PREFIX "${T_NAME}.")
endfunction()

# Programs go to build/bin so that command-line tests find them in one place.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
