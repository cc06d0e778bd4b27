# The Debian package: `cpack -G DEB --config BUILD/CPackConfig.cmake` (after building the program) writes
# pelomi_VERSION_ARCH.deb, with the program stripped, its dependencies computed from the libraries it links
# (dpkg-shlibdeps, Debian package dpkg-dev) and everything installed under /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pelomi)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(PELOMI_PACKAGE_CONTACT "Pelomi developers <pelomi@example.org>" CACHE STRING
    "The package's Maintainer field: who answers for it")
set(CPACK_PACKAGE_CONTACT "${PELOMI_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "drawn face that moves its mouth in time with your microphone")
set(CPACK_PACKAGE_DESCRIPTION "Pelomi listens to the default microphone in blocks of one twelfth of a
second and shows, under a level bar, one of five mouth stages from a picture
sheet: quiet shows the closed mouth, loud the widest. A click switches to the
next face on the sheet; the File menu opens another sheet. Run it beside a
stream or a call.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The menus and dialogs are in Japanese: without a CJK font they show as boxes.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk | fonts-ipafont-gothic")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "pipewire-pulse | pulseaudio")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)

# Debian wants the changelog of a native package as changelog.gz, compressed as gzip -9n does.
set(PELOMI_CHANGELOG_GZ ${PROJECT_BINARY_DIR}/changelog.gz)
file(ARCHIVE_CREATE OUTPUT ${PELOMI_CHANGELOG_GZ} PATHS ${PROJECT_SOURCE_DIR}/docs/changelog FORMAT raw
     COMPRESSION GZip COMPRESSION_LEVEL 9 MTIME 0)
install(FILES ${PELOMI_CHANGELOG_GZ} DESTINATION ${CMAKE_INSTALL_DOCDIR})
include(CPack)
