# talvorin_add_test(<name> SOURCES <files...> LIBS <targets...> [CONCURRENCY])
#
# One GoogleTest binary, its tests registered one by one with CTest under the label "unit",
# or "concurrency" for binaries whose tests exercise threads. The target
# `concurrency_tests` builds exactly the latter, for the ThreadSanitizer pass
# (ctest -L concurrency); the ordinary pass runs every label.
if(NOT TARGET concurrency_tests)
  add_custom_target(concurrency_tests)
endif()

function(talvorin_add_test name)
  cmake_parse_arguments(ARG "CONCURRENCY" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gmock GTest::gtest_main
                                        Threads::Threads talvorin_warnings)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  if(ARG_CONCURRENCY)
    set(label concurrency)
    add_dependencies(concurrency_tests ${name})
  else()
    set(label unit)
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES LABELS ${label})
endfunction()
