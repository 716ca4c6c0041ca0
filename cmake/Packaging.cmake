# Debian package of the desktop app: the executable, its bundled services, menu entry, icon and
# software-centre metadata.
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "lorvane")
set(CPACK_PACKAGE_VENDOR "Lorvane")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION "Lorvane runs a small web application on this computer and shows it \
in a window of its own. Its services, a web app server and a voice worker run by the system's \
Node.js, start with the window and stop when the user quits.")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Lorvane developers <dev@lorvane.app>")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://lorvane.app")
set(CPACK_DEBIAN_PACKAGE_SECTION "web")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)

# The libraries the executable links come from dpkg-shlibdeps, with the versions its symbols need;
# a hand-kept list went stale once already. Node is run, not linked, so it is named here: 18.2 is
# the first whose HTTP server can drop kept-alive connections (closeAllConnections), which both
# services need to stop promptly at quit. runtime/node is a Perl script; perl-base is essential.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "nodejs (>= 18.2)")
# Voice notes are recorded through the web view's PulseAudio capture, which any PulseAudio-speaking
# sound server serves; desktops have one, a bare system may not. Text fields are spell-checked in
# Russian and English where their dictionaries are installed.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pulseaudio | pipewire-pulse, hunspell-ru, hunspell-en-us")
# Without dpkg-shlibdeps CPack would quietly leave the libraries out; see PackageChecks.cmake.
set(CPACK_PROJECT_CONFIG_FILE "${CMAKE_CURRENT_LIST_DIR}/PackageChecks.cmake")
include(CPack)
