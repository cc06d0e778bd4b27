# The Windows program's installer and portable zip, made from the cross build by
#   cpack --config build/windows/CPackConfig.cmake      (scripts/windows-release does it all)
# pelomi-VERSION-setup.exe (NSIS, Debian package nsis; our own script, windows/NSIS.template.in) installs
# pelomi.exe and default.bmp; pelomi-VERSION-windows.zip holds them with a README.txt. Included by
# app/CMakeLists.txt for the Windows build, after the pelomi target and the PELOMI_ values it sets.
install(TARGETS pelomi RUNTIME DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/assets/default.bmp DESTINATION .)

# The zip's README, with Windows line ends for Notepad; cpack-generators.cmake adds it to the zip alone.
set(PELOMI_PORTABLE_DIR ${PROJECT_BINARY_DIR}/portable)
configure_file(${CMAKE_CURRENT_LIST_DIR}/windows/README.txt.in ${PELOMI_PORTABLE_DIR}/README.txt @ONLY
               NEWLINE_STYLE CRLF)

set(CPACK_GENERATOR NSIS ZIP)
set(CPACK_PACKAGE_NAME Pelomi)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR ${PELOMI_PUBLISHER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "A drawn face that moves its mouth with your microphone")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
set(CPACK_STRIP_FILES ON)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/windows/cpack-generators.cmake)
set(CPACK_PELOMI_PORTABLE_DIR ${PELOMI_PORTABLE_DIR})
# What the installer's template reads beside CPack's own values.
list(APPEND CMAKE_MODULE_PATH ${CMAKE_CURRENT_LIST_DIR}/windows)
set(CPACK_NSIS_DISPLAY_NAME Pelomi)
set(CPACK_PACKAGE_INSTALL_DIRECTORY Pelomi)
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY Pelomi)
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/app/icons/pelomi.ico)
set(CPACK_PELOMI_VERSION_QUAD ${PELOMI_VERSION_QUAD})
set(CPACK_PELOMI_COPYRIGHT ${PELOMI_COPYRIGHT})
include(CPack)
