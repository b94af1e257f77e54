# Read by cpack for each generator. The desktop entry's Path= was written with the prefix of
# the configure step, so a .deb from a build for /usr/local would point at the wrong folder.
if(CPACK_GENERATOR STREQUAL "DEB" AND NOT CPACK_PACKAGING_INSTALL_PREFIX STREQUAL "/usr")
  message(FATAL_ERROR "The .deb installs into /usr: configure this build with "
                      "-DCMAKE_INSTALL_PREFIX=/usr (it has ${CPACK_PACKAGING_INSTALL_PREFIX}).")
endif()
