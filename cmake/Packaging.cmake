# A Debian package of the installed files: `cpack -G DEB` in the build tree gives
# strandlink_VERSION_ARCH.deb for the prefix /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME strandlink)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Strandlink project")
set(CPACK_PACKAGE_CONTACT "${STRANDLINK_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "join the MIDI ports of two computers over the network")
# Without it CPack would put a placeholder text of its own into the package. Lines
# stay under 80 characters with the blank that dpkg puts before each.
set(CPACK_PACKAGE_DESCRIPTION [[
Strandlink links two computers for music: every short MIDI message
that arrives at a chosen input on one side is sent at once, as one
small UDP datagram, and played on a chosen output on the other side,
and back the other way. Beside the MIDI link there is a chat between
the two players, a once-a-second connection check, a local MIDI thru
with a guard against feedback loops, event counters and a panic
button.

It uses the ALSA sequencer or a JACK server, has MIDI ports of its
own for other programs, and runs with a window or without one
(strandlink --headless, or the systemd user unit strandlink@.service).]])
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Debug information stays in the build tree; the package gets the stripped program.
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${STRANDLINK_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
if(STRANDLINK_WEBSITE)
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${STRANDLINK_WEBSITE})
endif()
# The dependencies come from the shared libraries the program links (dpkg-shlibdeps,
# from dpkg-dev); Qt's X11 platform plugin ships with its GUI library.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
