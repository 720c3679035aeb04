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

# qor_add_library(NAME name SOURCES a.cc ... HEADERS a.h ... [DEPS lib ...] [PRIVATE_DEPS lib ...])
# A static library of the toolkit's C++ API. Its public headers are installed
# under include/tarvik/, the library under lib/, and the target joins the
# exported set that find_package(Tarvik) makes available as Tarvik::<name>.
include(GNUInstallDirs)
function(qor_add_library)
  cmake_parse_arguments(L "" "NAME" "SOURCES;HEADERS;DEPS;PRIVATE_DEPS" ${ARGN})
  add_library(${L_NAME} STATIC ${L_SOURCES})
  target_include_directories(${L_NAME} PUBLIC
    $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/tarvik>)
  if(L_DEPS)
    target_link_libraries(${L_NAME} PUBLIC ${L_DEPS})
  endif()
  if(L_PRIVATE_DEPS)
    target_link_libraries(${L_NAME} PRIVATE ${L_PRIVATE_DEPS})
  endif()
  add_library(Tarvik::${L_NAME} ALIAS ${L_NAME})
  install(TARGETS ${L_NAME} EXPORT TarvikTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
  install(FILES ${L_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tarvik)
endfunction()
