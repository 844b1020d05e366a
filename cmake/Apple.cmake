# Apple builds. The deployment target (14.2, the first macOS with process taps) is set
# before project() in the top-level CMakeLists.txt; a configure that missed it (from a host
# that is not a Mac) gets it here.
if(NOT CMAKE_OSX_DEPLOYMENT_TARGET)
  set(CMAKE_OSX_DEPLOYMENT_TARGET "14.2" CACHE STRING "Process taps need macOS 14.2" FORCE)
elseif(CMAKE_OSX_DEPLOYMENT_TARGET VERSION_LESS "14.2")
  message(FATAL_ERROR "The helper needs macOS 14.2 or later for process taps; "
                      "CMAKE_OSX_DEPLOYMENT_TARGET is ${CMAKE_OSX_DEPLOYMENT_TARGET}.")
endif()

# The macOS backend has one Objective-C++ file (process taps are described by an Objective-C
# class), compiled with ARC; the frameworks are linked by the backend library itself.
enable_language(OBJCXX)
set(CMAKE_OBJCXX_STANDARD ${CMAKE_CXX_STANDARD})
set(CMAKE_OBJCXX_STANDARD_REQUIRED ON)
set(CMAKE_OBJCXX_EXTENSIONS OFF)

# The bundle identifier the helper's embedded Info.plist carries.
set(TALVORIN_BUNDLE_IDENTIFIER "com.talvorin.audio-helper" CACHE STRING
    "Bundle identifier embedded in the helper binary")

# talvorin_apple_configure_helper(<target>)
#
# Embeds an Info.plist in the command-line helper's __TEXT,__info_plist section. It gives the
# binary its bundle identifier and the NSAudioCaptureUsageDescription that macOS shows when it
# asks for the System Audio Recording permission on the helper's own behalf (when the helper
# runs on its own rather than as the child of an app that carries the text).
function(talvorin_apple_configure_helper target)
  set(plist "${CMAKE_CURRENT_BINARY_DIR}/${target}-Info.plist")
  set(TALVORIN_EXECUTABLE_NAME "${target}")
  configure_file("${PROJECT_SOURCE_DIR}/src/app/Info.plist.in" "${plist}" @ONLY)
  target_link_options(${target} PRIVATE "LINKER:-sectcreate,__TEXT,__info_plist,${plist}")
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS "${plist}")
endfunction()
