# The Debian package, built by CPack from the install rules (scripts/package):
# build/tembra_<version>_<architecture>.deb, installing under /usr.
#
# tembra and tembra-store are static and need no package; tembra-eds, when built, links EDS's
# shared libraries, and dpkg-shlibdeps turns what it links into the package's Depends. The EDS
# services themselves are only reached with TEMBRA_BACKEND=eds: they are suggested, not required.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tembra)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CONTACT "tembra developers <developers@tembra.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "calendar access for host applications, one command a run")
set(CPACK_PACKAGE_DESCRIPTION
  "tembra lets a host application read and change the user's calendar: the host\n"
  "starts it with one command word and a few options, and it writes one JSON\n"
  "document and exits with a status that tells success from each kind of failure.\n"
  "It serves a local store of iCalendar folders (which khal reads and vdirsyncer\n"
  "syncs) and, with TEMBRA_BACKEND=eds, the GNOME desktop's Evolution Data Server.\n"
  "tembra-store sets up, imports into and repairs a local store.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(TEMBRA_EDS_BUILT)
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS evolution-data-server)
endif()
include(CPack)
