# Installing the native program, the publisher's tool, with the Windows
# program that patches are packed onto, and the Debian package made of that
# install (scripts/package.sh):
#   bin/quorvane-update
#   share/quorvane-update/QuorvaneUpdate.exe   the 32-bit release (mingw-i686)
#   share/quorvane-update/README.md
#   share/man/man1/quorvane-update.1.gz        from packaging/
#   share/doc/quorvane-update/copyright, changelog.Debian.gz
#   share/lintian/overrides/quorvane-update     lintian's tags that do not apply, each with why
include(GNUInstallDirs)

# The release comes from a build tree of its own, so it is named by path;
# an install without it fails, naming the file.
set(QUORVANE_WINDOWS_PROGRAM ${CMAKE_SOURCE_DIR}/build/mingw-i686/QuorvaneUpdate.exe CACHE FILEPATH
    "The 32-bit Windows release (the mingw-i686 preset's), installed for publishers to pack onto")

# Installing builds nothing: scripts/package.sh builds what is installed,
# and the install would otherwise build the whole tree, tests included.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
install(TARGETS quorvane_update RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${QUORVANE_WINDOWS_PROGRAM} ${CMAKE_SOURCE_DIR}/README.md
        DESTINATION ${CMAKE_INSTALL_DATADIR}/quorvane-update)

# The manual page and the changelog are compressed as Debian's policy asks,
# with no name or time in the gzip header, so that two builds give the same
# package.
set(package_documents ${CMAKE_CURRENT_BINARY_DIR}/package-documents)
set(manual_page ${package_documents}/quorvane-update.1.gz)
set(changelog ${package_documents}/changelog.Debian.gz)
add_custom_command(
  OUTPUT ${manual_page} ${changelog}
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/packaging/quorvane-update.1
          ${package_documents}/quorvane-update.1
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/packaging/changelog ${package_documents}/changelog.Debian
  COMMAND gzip -9nf ${package_documents}/quorvane-update.1 ${package_documents}/changelog.Debian
  DEPENDS ${CMAKE_SOURCE_DIR}/packaging/quorvane-update.1 ${CMAKE_SOURCE_DIR}/packaging/changelog
  VERBATIM)
add_custom_target(quorvane_package_documents ALL DEPENDS ${manual_page} ${changelog})
install(FILES ${manual_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright ${changelog}
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quorvane-update)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/lintian-overrides RENAME quorvane-update
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvane-update)
set(CPACK_PACKAGE_VENDOR "norvik")
set(CPACK_PACKAGE_CONTACT "Quorvane update developers <quorvane-update@norvik.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "packs, lists and verifies patches for the game Quorvane")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "The publisher's tool for Quorvane patches: it packs a folder of files onto a\n"
    "copy of the Windows update program, which then installs them into the game,\n"
    "and lists and verifies a patch before it ships. The Windows program comes\n"
    "with it, in /usr/share/quorvane-update.")
string(REPLACE ";" "" CPACK_DEBIAN_PACKAGE_DESCRIPTION "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# The first packaging of this version; packaging/changelog names it.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The dependencies are those of the binary as dpkg-shlibdeps reads them:
# the C++ runtime is linked in, so libc6, zlib1g and libdivsufsort3 (which
# Debian ships as a shared library only) remain.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
