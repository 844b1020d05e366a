# What `cmake --install` puts next to the helper, and the package CPack builds from it: a .deb
# on Linux, whose Depends dpkg-shlibdeps derives from the libraries the binary really links
# (libpulse0, libstdc++6, libc6 with their minimum versions), a plain archive elsewhere.
include(GNUInstallDirs)

set(TALVORIN_PACKAGE_NAME talvorin-audio-helper)
set(TALVORIN_PACKAGE_MAINTAINER "Talvorin developers <audio-helper@talvorin.example>"
    CACHE STRING "Maintainer field of the packages")

# The documents a parent's developer needs: the overview, the wire protocol, and how the
# helper behaves on this platform.
set(_talvorin_docs README.md docs/protocol.md)
if(APPLE)
  list(APPEND _talvorin_docs docs/macos.md)
else()
  list(APPEND _talvorin_docs docs/linux-backend.md)
endif()
list(TRANSFORM _talvorin_docs PREPEND ${PROJECT_SOURCE_DIR}/)
install(FILES ${_talvorin_docs} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${TALVORIN_PACKAGE_NAME})

set(CPACK_PACKAGE_NAME ${TALVORIN_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Talvorin")
set(CPACK_PACKAGE_CONTACT "${TALVORIN_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Captures what the machine plays as 16 kHz mono PCM for a parent application")
set(CPACK_PACKAGE_DESCRIPTION
    "A small native helper that a desktop application starts as a child process. In capture\n\
mode it records what the machine is playing, everything on the default output or only\n\
chosen processes, and writes it to standard output as 16 kHz mono signed 16-bit PCM in\n\
length-prefixed frames, with JSON event lines on standard error. In watch mode it reports\n\
which processes are recording audio. On Linux it runs on a PulseAudio server, or on\n\
PipeWire through pipewire-pulse.")
set(CPACK_PACKAGE_FILE_NAME "${TALVORIN_PACKAGE_NAME}-${PROJECT_VERSION}")
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_GENERATOR "")

if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TALVORIN_PACKAGE_MAINTAINER}")
  set(CPACK_DEBIAN_PACKAGE_SECTION sound)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The helper talks to whichever PulseAudio-protocol server the session runs; it needs
  # none installed locally to start (a remote PULSE_SERVER does), so this is no Depends.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pulseaudio | pipewire-pulse")
else()
  set(CPACK_GENERATOR TGZ)
endif()

include(CPack)
