# talvorin_add_test(<name> SOURCES <files...> LIBS <targets...> [CONCURRENCY] [LABEL <label>])
#
# One GoogleTest binary, its tests registered one by one with CTest under one label:
# - "unit" by default;
# - "concurrency" (CONCURRENCY) for binaries whose tests exercise threads; the target
#   `concurrency_tests` builds exactly these, for the ThreadSanitizer pass
#   (ctest -L concurrency);
# - any other LABEL, such as "pulse" for tests that need a running audio server; those are
#   left out of the plain pass and run by tests/e2e/run with a private server.
if(NOT TARGET concurrency_tests)
  add_custom_target(concurrency_tests)
endif()

function(talvorin_add_test name)
  cmake_parse_arguments(ARG "CONCURRENCY" "LABEL" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gmock GTest::gtest_main
                                        Threads::Threads talvorin_warnings)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  if(ARG_CONCURRENCY)
    set(label concurrency)
    add_dependencies(concurrency_tests ${name})
  elseif(ARG_LABEL)
    set(label ${ARG_LABEL})
  else()
    set(label unit)
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES LABELS ${label})
endfunction()
