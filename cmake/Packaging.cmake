# Debian package of the desktop app: the executable, its bundled services, menu entry and icon.
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "lorvane")
set(CPACK_PACKAGE_VENDOR "Lorvane")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Lorvane developers <dev@lorvane.app>")
set(CPACK_DEBIAN_PACKAGE_SECTION "web")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The bundled services run on the system's Node when the bundle carries no runtime of its own.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libgtk-4-1, libwebkitgtk-6.0-4, libsoup-3.0-0, nodejs")
include(CPack)
