# Where the installed app finds its bundled services: the resource folder relative to the folder of
# the executable, taken from the install layout so that -DCMAKE_INSTALL_BINDIR=... and
# -DCMAKE_INSTALL_DATADIR=... move both together. Compiled into build_config.h.
include(GNUInstallDirs)
file(RELATIVE_PATH LORVANE_RESOURCES_FROM_BINDIR
  ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_DATADIR}/lorvane)
if(IS_ABSOLUTE "${LORVANE_RESOURCES_FROM_BINDIR}" OR LORVANE_RESOURCES_FROM_BINDIR STREQUAL "")
  message(FATAL_ERROR "The resource folder ${CMAKE_INSTALL_FULL_DATADIR}/lorvane cannot be reached "
    "from ${CMAKE_INSTALL_FULL_BINDIR} by a relative path")
endif()
