# The Debian package, built by "cpack -G DEB" in a build folder. Configure
# with -DCMAKE_INSTALL_PREFIX=/usr so that the program's fallback data folder
# matches the package's (it also finds its data relative to itself).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tempikon)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Tempikon authors")
set(CPACK_PACKAGE_CONTACT "The Tempikon authors <tempikon@tempikon.org>")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://tempikon.github.io")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "set the clock from an NTP or Daytime time server")
set(CPACK_PACKAGE_DESCRIPTION
  "Tempikon asks a time server on the network for the current time with the
Daytime protocol (RFC 867, TCP port 13), adds an offset in hours configured
for that server, and sets the time of day of the system clock. It never
changes the date. A backup server is asked when the primary gives no answer.

It runs interactively with a small window, once from a script (/RUNONCE,
with an exit status), or resident (/SERVER), setting the time every few
minutes. Without a display the one-shot and resident modes run headless.
The configuration dialog lists public time servers and checks them.")

set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Dependencies come from the binary's libraries (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window asks for a font like the one it was designed with; NTS to a
# public server needs the system's trusted certificates.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-comic-neue, ca-certificates")

include(CPack)
