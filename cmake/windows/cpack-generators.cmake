# Read by cpack once for each generator of the Windows build (cmake/windows-package.cmake).
if(CPACK_GENERATOR STREQUAL "NSIS")
  set(CPACK_PACKAGE_FILE_NAME "pelomi-${CPACK_PACKAGE_VERSION}-setup")
elseif(CPACK_GENERATOR STREQUAL "ZIP")
  # Unpacked by Explorer into a folder named after the zip: the files sit at the top.
  set(CPACK_PACKAGE_FILE_NAME "pelomi-${CPACK_PACKAGE_VERSION}-windows")
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  set(CPACK_INSTALLED_DIRECTORIES "${CPACK_PELOMI_PORTABLE_DIR};.")
endif()
