# Read by cpack before it builds a package: refuse to build a .deb that would lack the libraries
# the executable needs.
if(CPACK_GENERATOR STREQUAL "DEB")
  find_program(LORVANE_DPKG_SHLIBDEPS dpkg-shlibdeps)
  find_program(LORVANE_FILE file)
  if(NOT LORVANE_DPKG_SHLIBDEPS OR NOT LORVANE_FILE)
    message(FATAL_ERROR "The .deb takes its library dependencies from dpkg-shlibdeps and file: "
      "install the dpkg-dev and file packages (scripts/install-deps.sh package)")
  endif()
endif()
