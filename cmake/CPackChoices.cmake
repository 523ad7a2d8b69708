# Read by cpack for each kind of package it makes: the archive takes the
# program folder as `cmake --install` lays it out (which leaves out the
# component "deb"), the Debian package only the system layout under /usr
# that the component "deb" holds.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(CPACK_COMPONENTS_ALL deb)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(ENV{OZ_PACKAGE_VERSION} "${CPACK_PACKAGE_VERSION}")
endif()
