# Every target of the project links talvorin_warnings; third-party headers come in as
# system headers and are not held to these.
add_library(talvorin_warnings INTERFACE)
if(MSVC)
  target_compile_options(talvorin_warnings INTERFACE /W4 $<$<BOOL:${TALVORIN_WERROR}>:/WX>)
else()
  target_compile_options(talvorin_warnings INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align -Wformat=2
    $<$<BOOL:${TALVORIN_WERROR}>:-Werror>)
endif()
