# TALVORIN_SANITIZE takes a comma-separated list handed to -fsanitize=, for example
# "address,undefined" or "thread". It applies to every target, tests included.
if(TALVORIN_SANITIZE)
  string(REPLACE "," ";" _talvorin_sanitizers "${TALVORIN_SANITIZE}")
  if("thread" IN_LIST _talvorin_sanitizers AND "address" IN_LIST _talvorin_sanitizers)
    message(FATAL_ERROR "ThreadSanitizer cannot be combined with AddressSanitizer")
  endif()
  add_compile_options(-fsanitize=${TALVORIN_SANITIZE} -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=${TALVORIN_SANITIZE})
  if("undefined" IN_LIST _talvorin_sanitizers)
    # An undefined-behaviour report must fail the test, not scroll by.
    add_compile_options(-fno-sanitize-recover=undefined)
  endif()
endif()
