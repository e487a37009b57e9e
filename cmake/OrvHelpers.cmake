include(GoogleTest)

# orv_add_gtest(<target> SOURCES <files...> [LIBS <libs...>] [LABELS <labels...>])
# One test executable; CTest runs every test case in a process of its own
# (a test that creates a Java VM may therefore create one), with a bound on
# its time so that a lost wake-up fails instead of hanging the run.
function(orv_add_gtest target)
  cmake_parse_arguments(A "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 120)
  endif()
  add_executable(${target} ${A_SOURCES})
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_link_libraries(${target} PRIVATE ${A_LIBS} orvtesting GTest::gmock GTest::gtest_main)
  gtest_discover_tests(${target}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
    PROPERTIES TIMEOUT ${A_TIMEOUT} LABELS "${A_LABELS}")
endfunction()

# orv_glob_sources(<out-var> <dir>): every .cpp below <dir>, sorted, so that a
# new file needs no edit of any CMakeLists.
function(orv_glob_sources out dir)
  file(GLOB_RECURSE found CONFIGURE_DEPENDS ${dir}/*.cpp)
  list(SORT found)
  set(${out} ${found} PARENT_SCOPE)
endfunction()
